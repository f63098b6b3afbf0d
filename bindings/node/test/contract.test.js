// SPDX-License-Identifier: MIT
'use strict';
// Every row of bindings/contract/cases.json against the native binding; a row this host
// cannot express is reported as skipped with what it lacks.
const test = require('node:test');
const fs = require('node:fs');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const ntsrch = require('../ntsrch');

const contract = path.join(__dirname, '..', '..', 'contract');
const { cases } = JSON.parse(fs.readFileSync(path.join(contract, 'cases.json'), 'utf8'));
const runner = import(pathToFileURL(path.join(contract, 'run.mjs')).href);
const lib = new ntsrch.Library();

test.after(() => lib.close());
for (const row of cases) {
    test(row.name, async (t) => {
        const { checkRow, Skip } = await runner;
        try {
            await checkRow(lib, row, { ntsrch, binding: 'node' });
        } catch (err) {
            if (!(err instanceof Skip)) throw err;
            t.skip(err.message);
        }
    });
}
