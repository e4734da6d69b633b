// The page's worker: the engine module (createPelko, just above in the same source) answering
// the page's messages. Each message is {id, call, args}; the answer {id, answer} or
// {id, failure}; a run posts {progress: [done, total]} while it goes.
'use strict';
const engineReady = createPelko({
  onProgress(done, total) { postMessage({ progress: [done, total] }); },
});
const calls = {
  features: (m) => m.ccall('pelko_features', 'string', [], []),
  read: (m, text) => m.ccall('pelko_read', 'string', ['string'], [text]),
  run: (m, text, seed) => m.ccall('pelko_run', 'string', ['string', 'number'], [text, seed]),
  csv: (m) => m.ccall('pelko_replications_csv', 'string', [], []),
  frontier: (m, text, seed, stage, step) =>
    m.ccall('pelko_frontier', 'string', ['string', 'number', 'number', 'number'],
            [text, seed, stage, step]),
};
onmessage = async (event) => {
  const { id, call, args } = event.data;
  try {
    const m = await engineReady;
    const text = calls[call](m, ...args);
    postMessage({ id, answer: call === 'csv' ? text : JSON.parse(text) });
  } catch (error) {
    postMessage({ id, failure: String(error && error.message || error) });
  }
};
