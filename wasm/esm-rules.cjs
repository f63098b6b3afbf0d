// SPDX-License-Identifier: MIT
// Writes the ESM form of the Node binding's rules.js (CommonJS) for the WebAssembly binding,
// which browsers load as ESM: the same source inside a function, and its exports named.
//   node wasm/esm-rules.cjs bindings/node/rules.js OUT.mjs
'use strict';
const fs = require('node:fs');
const path = require('node:path');

const [from, to] = process.argv.slice(2);
const source = fs.readFileSync(from, 'utf8');
if (/\brequire\s*\(/.test(source)) throw new Error(`${from} requires other modules; a page could not load it`);
const names = Object.keys(require(path.resolve(from)));
fs.writeFileSync(to, `// Generated from ${path.basename(from)} by wasm/esm-rules.cjs: edit that file, not this one.
const module = { exports: {} };
(function (module, exports) {
${source}
})(module, module.exports);
export const { ${names.join(', ')} } = module.exports;
`);
