// Prints what @kenjiuno/msgreader reads from a .msg file as one JSON object.
//   node read_msg.js <node-dir> <file.msg>
'use strict';
const fs = require('fs');
const path = require('path');

const [, , nodeDir, msgPath] = process.argv;
const MsgReader = require(path.join(nodeDir, 'node_modules', '@kenjiuno', 'msgreader')).default;
const bytes = fs.readFileSync(msgPath);
const reader = new MsgReader(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
reader.parserConfig = { includeRawProps: true };
const data = reader.getFileData();
if (data.error) {
  process.stdout.write(JSON.stringify({ error: data.error }));
  process.exit(0);
}
const named = {};
for (const prop of data.rawProps || []) {
  if (prop.propertyName === undefined) continue;
  named[prop.propertyName] = prop.value instanceof Uint8Array ? Buffer.from(prop.value).toString('hex') : prop.value;
}
process.stdout.write(JSON.stringify({
  subject: data.subject,
  messageClass: data.messageClass,
  body: data.body,
  recipients: (data.recipients || []).map((r) => ({ name: r.name, addressType: r.addressType, email: r.email })),
  attachments: (data.attachments || []).map((a) => ({
    fileName: a.fileName,
    size: reader.getAttachment(a).content.length,
    sum: reader.getAttachment(a).content.reduce((s, b) => (s + b) % 65521, 0),
  })),
  named,
}));
