// SPDX-License-Identifier: MIT
// Writes the ESM form of the Node binding's rules.js (CommonJS) for the WebAssembly binding,
// which browsers load as ESM: the same source inside a function, and its exports named.
//   node bindings/wasm/esm-rules.cjs bindings/node/rules.js OUT.mjs
'use strict';
const fs = require('node:fs');
const path = require('node:path');

const [from, to] = process.argv.slice(2);
const source = fs.readFileSync(from, 'utf8');
if (/\brequire\s*\(/.test(source)) throw new Error(`${from} requires other modules; a page could not load it`);
const names = Object.keys(require(path.resolve(from)));
// Inside the npm package the folder sits beside the Node binding, whose rules.js Node has
// loaded already (or loads now): the same module, so both share one set of error classes
// and `err instanceof NtsrchError` holds whichever library threw. A page, or the folder on
// its own, runs the copy below.
fs.writeFileSync(to, `// Generated from ${path.basename(from)} by bindings/wasm/esm-rules.cjs: edit that file, not this one.
let shared = null;
if (typeof process === 'object' && process !== null && typeof process.versions?.node === 'string') {
    const { createRequire } = await import('node:module');
    const require = createRequire(import.meta.url);
    try {
        if (require('../package.json').name === 'ntsrch') shared = require('../rules.js');
    } catch {
        // not inside the package
    }
}
const module = { exports: {} };
if (shared === null) {
    (function (module, exports) {
${source}
    })(module, module.exports);
}
export const { ${names.join(', ')} } = shared ?? module.exports;
`);
