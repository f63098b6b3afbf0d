// SPDX-License-Identifier: MIT
// The thread behind a library's ...Async calls: its own instance of the same compiled module,
// called synchronously, so the per-thread last-error text is read where it was set. Input
// comes as checked bytes (one copy into this instance's memory); the result goes back as
// bytes whose buffer is moved, not copied.
import { Engine, NtsrchError, NtsrchMemoryError } from './ntsrch-wasm.mjs';

const IS_NODE = typeof process === 'object' && typeof process.versions?.node === 'string';
let engine;
let startError;

function start(module) {
    try {
        engine = new Engine(module);
    } catch (err) {
        startError = err;
    }
}

function handle({ id, kind, args }, reply) {
    try {
        if (startError) throw startError;
        const bytes = engine.run(kind, args, (view) => view.slice());
        reply({ id, bytes }, [bytes.buffer]);
    } catch (err) {
        engine?.release();
        let error;
        if (err instanceof NtsrchMemoryError) error = { kind: 'memory', fn: err.function };
        else if (err instanceof NtsrchError) error = { kind: 'ntsrch', fn: err.function, lastError: err.lastError };
        else error = { kind: 'other', message: String(err && err.message) };
        reply({ id, error });
    }
}

if (IS_NODE) {
    const { parentPort, workerData } = await import('node:worker_threads');
    start(workerData.module);
    parentPort.on('message', (m) => handle(m, (msg, transfer) => parentPort.postMessage(msg, transfer)));
} else {
    self.onmessage = (ev) => {
        if (ev.data.module) return start(ev.data.module);
        return handle(ev.data, (msg, transfer) => self.postMessage(msg, transfer));
    };
}
