// SPDX-License-Identifier: MIT
'use strict';
// The thread behind a Library's async calls: it loads the same module file and makes each
// call synchronously, so the module's per-thread last-error text is read where it was set.
const { parentPort, workerData } = require('node:worker_threads');
const { Library, NtsrchError, NtsrchMemoryError, ModuleLoadError, _EMPTY: EMPTY } = require('./ntsrch');

let lib;
let loadError;
try {
    lib = new Library({ path: workerData.path });
} catch (err) {
    loadError = err;
}
parentPort.postMessage('started');

function describe(err) {
    if (err instanceof NtsrchMemoryError) return { kind: 'memory', fn: err.function };
    if (err instanceof NtsrchError) return { kind: 'ntsrch', fn: err.function, lastError: err.lastError };
    if (err instanceof ModuleLoadError) return { kind: 'load', tried: err.tried };
    return { kind: 'other', message: String(err && err.message) };
}

parentPort.on('message', ({ id, name, args }) => {
    try {
        if (loadError) throw loadError;
        const call = { name, args: args.map((a) => (a === 'EMPTY' ? EMPTY : a)), output: 'bytes' };
        const bytes = lib._run(call, true);
        parentPort.postMessage({ id, bytes }, [bytes.buffer]);
    } catch (err) {
        parentPort.postMessage({ id, error: describe(err) });
    }
});
