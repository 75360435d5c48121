// Prints what the independent readers from npm find in a .msg file, as one
// JSON object: @kenjiuno/msgreader for the message and
// @kenjiuno/decompressrtf for its compressed RTF body.
//   node read_fax_msg.js <node_modules dir> <file.msg>
'use strict';
const fs = require('fs');
const path = require('path');

const [modulesDir, msgPath] = process.argv.slice(2);
const MsgReader = require(path.join(modulesDir, '@kenjiuno', 'msgreader')).default;
const { decompressRTF } = require(path.join(modulesDir, '@kenjiuno', 'decompressrtf'));
const hex = (bytes) => Buffer.from(bytes).toString('hex');

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
  named[prop.propertyName] = prop.value instanceof Uint8Array ? hex(prop.value) : prop.value;
}
process.stdout.write(JSON.stringify({
  subject: data.subject,
  messageClass: data.messageClass,
  body: data.body,
  rtfHex: data.compressedRtf ? hex(decompressRTF(data.compressedRtf)) : null,
  recipients: (data.recipients || []).map((r) => ({ name: r.name, addressType: r.addressType, email: r.email })),
  attachments: (data.attachments || []).map((a) => ({
    fileName: a.fileName,
    contentHex: hex(reader.getAttachment(a).content),
  })),
  named,
}));
