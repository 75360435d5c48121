// Prints what @kenjiuno/msgreader reads from a .msg file as one JSON object,
// and writes each attachment's bytes to <outDir>/attachment-<n>.bin so the
// caller can compare them byte for byte.
//
//   node dump_msg.js <node-dir> <file.msg> <outDir>
'use strict';
const fs = require('fs');
const path = require('path');

const [, , nodeDir, msgPath, outDir] = process.argv;
const MsgReader = require(path.join(nodeDir, 'node_modules', '@kenjiuno', 'msgreader')).default;

function hex(bytes) {
  return Buffer.from(bytes).toString('hex');
}

function plain(value) {
  if (value instanceof Uint8Array) return { hex: hex(value) };
  return value;
}

const bytes = fs.readFileSync(msgPath);
const reader = new MsgReader(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length));
reader.parserConfig = { includeRawProps: true };
const data = reader.getFileData();
if (data.error) {
  process.stdout.write(JSON.stringify({ error: data.error }));
  process.exit(0);
}

const named = [];
for (const prop of data.rawProps || []) {
  if (prop.propertyName === undefined && prop.propertySet === undefined) continue;
  named.push({
    tag: prop.propertyTag,
    name: prop.propertyName,
    propertySet: prop.propertySet,
    lid: prop.propertyLid,
    value: plain(prop.value),
  });
}

const attachments = (data.attachments || []).map((attachment, index) => {
  const content = reader.getAttachment(attachment).content;
  const file = path.join(outDir, `attachment-${index}.bin`);
  fs.writeFileSync(file, content);
  return {
    fileName: attachment.fileName,
    fileNameShort: attachment.fileNameShort,
    extension: attachment.extension,
    size: content.length,
    file,
  };
});

process.stdout.write(JSON.stringify({
  subject: data.subject,
  messageClass: data.messageClass,
  body: data.body,
  recipients: (data.recipients || []).map((r) => ({
    name: r.name, addressType: r.addressType, email: r.email, recipType: r.recipType,
  })),
  attachments,
  named,
}));
