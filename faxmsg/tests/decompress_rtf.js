// Decompresses each compressed RTF file named on the command line with the
// independent reader from npm and writes the result beside it as
// "<file>.out". Usage: node decompress_rtf.js <node_modules dir> <file>...
'use strict';
const fs = require('fs');
const path = require('path');

const [modulesDir, ...files] = process.argv.slice(2);
const { decompressRTF } = require(path.join(modulesDir, '@kenjiuno', 'decompressrtf'));
for (const file of files) {
  const output = decompressRTF(fs.readFileSync(file));
  fs.writeFileSync(file + '.out', Buffer.from(output));
}
