// The engine module of a built pelko.html under node, as the page's worker runs it.
// node page_engine.js run HTML OUTDIR PROBLEM SEED [PROBLEM SEED ...]
//   writes OUTDIR/N.json (the run's JSON, or the error's lines) and OUTDIR/N.csv for the N-th pair
// node page_engine.js time HTML PROBLEM SEED TIMES
//   prints the median seconds of TIMES runs
'use strict';
const fs = require('fs');
const path = require('path');

function loadEngine(html) {
  const page = fs.readFileSync(html, 'utf8');
  const start = page.indexOf('<script type="text/plain" id="engine-source">');
  const end = page.indexOf('/* end of the engine module */', start);
  if (start < 0 || end < 0) throw new Error(`${html}: no engine module`);
  const source = page.slice(page.indexOf('>', start) + 1, end);
  const factory = new Function('require', '__dirname', '__filename', 'process',
                               source + '\nreturn createPelko;');
  return factory(require, path.dirname(html), html, process)();
}

const run = (m, text, seed) =>
  JSON.parse(m.ccall('pelko_run', 'string', ['string', 'number'], [text, seed]));

async function main() {
  const [mode, html, ...rest] = process.argv.slice(2);
  const m = await loadEngine(html);
  if (mode === 'run') {
    const [outdir, ...pairs] = rest;
    for (let i = 0; i < pairs.length; i += 2) {
      const answer = run(m, fs.readFileSync(pairs[i], 'utf8'), Number(pairs[i + 1]));
      const n = i / 2;
      fs.writeFileSync(path.join(outdir, `${n}.json`), answer.ok ? answer.json : answer.lines.join('\n') + '\n');
      if (answer.ok) {
        fs.writeFileSync(path.join(outdir, `${n}.csv`), m.ccall('pelko_replications_csv', 'string', [], []));
      }
    }
  } else if (mode === 'time') {
    const [problem, seed, times] = rest;
    const text = fs.readFileSync(problem, 'utf8');
    const seconds = [];
    for (let i = 0; i < Number(times); ++i) {
      const start = process.hrtime.bigint();
      if (!run(m, text, Number(seed)).ok) throw new Error('the run failed');
      seconds.push(Number(process.hrtime.bigint() - start) / 1e9);
    }
    seconds.sort((a, b) => a - b);
    console.log(seconds[Math.floor(seconds.length / 2)].toFixed(4));
  } else {
    throw new Error('usage: page_engine.js run|time ...');
  }
}
main().catch((error) => { console.error(error.message); process.exit(1); });
