// SPDX-License-Identifier: MIT
// Table runner for the WebAssembly checks: one "pass NAME" / "fail NAME: why" line per row,
// the form scripts/test-stages counts; the exit status is 1 when any row failed.
export async function run(group, rows, check) {
    let failed = 0;
    for (const row of rows) {
        const name = `wasm ${group}: ${row.name ?? row[0]}`;
        try {
            await check(row);
            console.log(`pass ${name}`);
        } catch (err) {
            failed += 1;
            console.log(`fail ${name}: ${String(err && err.stack ? err.stack : err).split('\n').slice(0, 4).join(' | ')}`);
        }
    }
    if (failed) process.exitCode = 1;
    return failed;
}

export function equal(actual, expected, what = 'value') {
    const a = typeof actual === 'string' ? actual : JSON.stringify(actual);
    const e = typeof expected === 'string' ? expected : JSON.stringify(expected);
    if (a !== e) throw new Error(`${what}: got ${a.slice(0, 300)}, want ${e.slice(0, 300)}`);
}

// Results of the case table's runner (bindings/contract/run.mjs), one line per row and a count.
export function report(group, results) {
    for (const { name, status, why } of results) console.log(`${status} wasm ${group}: ${name}${why ? `: ${why.split('\n')[0]}` : ''}`);
    const count = (s) => results.filter((r) => r.status === s).length;
    console.log(`note wasm ${group}: ${results.length} rows, ${count('pass')} passed, ${count('skip')} skipped, ${count('fail')} failed`);
    if (count('fail')) process.exitCode = 1;
}
