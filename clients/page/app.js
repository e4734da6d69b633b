// The page: the design form, the runs in a worker, the results drawn from the program's JSON.
'use strict';
(() => {
const $ = (id) => document.getElementById(id);
const MAX_PREDICTORS = 10;
const MAX_STAGES = 4;

// ---- The engine: one worker answers reading and checking, another runs (Cancel ends it). ----
const engineUrl = URL.createObjectURL(new Blob([$('engine-source').textContent],
                                               { type: 'text/javascript' }));
class Engine {
  constructor(onProgress) {
    this.onProgress = onProgress;
    this.pending = new Map();
    this.next = 1;
    this.start();
  }
  start() {
    this.worker = new Worker(engineUrl);
    this.worker.onmessage = (event) => {
      const message = event.data;
      if (message.progress) { if (this.onProgress) this.onProgress(...message.progress); return; }
      const waiting = this.pending.get(message.id);
      if (!waiting) return;
      this.pending.delete(message.id);
      if ('failure' in message) waiting.reject(new Error(message.failure));
      else waiting.resolve(message.answer);
    };
  }
  call(call, ...args) {
    return new Promise((resolve, reject) => {
      const id = this.next++;
      this.pending.set(id, { resolve, reject });
      this.worker.postMessage({ id, call, args });
    });
  }
  // Ends whatever the worker is doing and starts a fresh one.
  restart() {
    this.worker.terminate();
    for (const waiting of this.pending.values()) waiting.reject(new Error('cancelled'));
    this.pending.clear();
    this.start();
  }
}
const checker = new Engine(null);
const runner = new Engine((done, total) => showProgress(done, total));

// ---- Numbers as the page shows them ----
// The shortest text that reads back to the same single-precision number.
function floatText(value) {
  if (value === null || value === undefined) return '';
  const f = Math.fround(value);
  for (let p = 1; p <= 9; ++p) {
    const text = String(Number(f.toPrecision(p)));
    if (Math.fround(Number(text)) === f) return text;
  }
  return String(f);
}
const fixed = (value, places = 3) =>
  value === null || value === undefined || Number.isNaN(value) ? '–' : Number(value).toFixed(places);
const percent = (value) => value === null || value === undefined ? '–' : (100 * value).toFixed(1) + ' %';
const escapeXml = (text) => String(text).replace(/[&<>"']/g,
  (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' }[c]));

// ---- The design as typed: every value kept as its text ----
let features = { criterion: false, frontier: false, version: '' };
const design = {
  replications: '1000', applicants: '200', majority: '150',
  names: [], effects: [], validities: [], criterionEffect: '',
  correlations: [], retained: [], weights: [],
};
const stageCount = () => design.retained.length;
const predictorCount = () => design.effects.length;

function resize(predictors, stages) {
  const grow = (list, n, make) => { while (list.length < n) list.push(make(list.length)); list.length = n; };
  grow(design.names, predictors, (j) => 'Predictor ' + (j + 1));
  grow(design.effects, predictors, () => '0');
  grow(design.validities, predictors, () => '');
  grow(design.correlations, predictors, () => []);
  design.correlations.forEach((row, i) => grow(row, predictors, (j) => (i === j ? '1' : '0')));
  grow(design.retained, stages, (k) => k === 0 ? design.applicants : design.retained[k - 1]);
  grow(design.weights, stages, () => []);
  design.weights.forEach((row) => grow(row, predictors, () => '1'));
}

function setDesign(problem, names) {
  design.replications = String(problem.replications);
  design.applicants = String(problem.applicants);
  design.majority = String(problem.majority_applicants);
  design.effects = problem.effect_sizes.map(floatText);
  design.names = names ? names.slice() : problem.effect_sizes.map((_, j) => 'Predictor ' + (j + 1));
  design.correlations = problem.correlations.map((row) => row.map(floatText));
  design.retained = problem.retained.map(String);
  design.weights = problem.weights.map((row) => row.map(floatText));
  design.validities = (problem.validities && problem.validities.length)
    ? problem.validities.map(floatText) : problem.effect_sizes.map(() => '');
  design.criterionEffect = problem.criterion_effect_size === null ||
    problem.criterion_effect_size === undefined ? '' : floatText(problem.criterion_effect_size);
  render();
}

// The program's problem file for the design as typed.
function problemText() {
  const lines = [
    [design.replications, design.applicants, design.majority, stageCount(), predictorCount()].join(' '),
    design.retained.join(' '),
    design.effects.join(' '),
    ...design.correlations.map((row) => row.join(' ')),
    ...design.weights.map((row) => row.join(' ')),
  ];
  if (hasCriterion()) {
    lines.push('criterion', 'validities ' + design.validities.join(' '));
    if (design.criterionEffect.trim() !== '') lines.push('effect_size ' + design.criterionEffect.trim());
  }
  return lines.join('\n') + '\n';
}
const hasCriterion = () => features.criterion && design.validities.some((v) => v.trim() !== '');

// ---- The form ----
function input(id, value, onChange, label, mode = 'decimal') {
  const field = document.createElement('input');
  field.id = id;
  field.value = value;
  field.inputMode = mode;
  field.setAttribute('aria-label', label);
  field.addEventListener('input', () => { onChange(field.value); changed(); });
  return field;
}
function cell(row, content, header = false) {
  const c = document.createElement(header ? 'th' : 'td');
  if (typeof content === 'string') c.textContent = content; else c.append(content);
  row.append(c);
  return c;
}

function render() {
  $('replications').value = design.replications;
  $('applicants').value = design.applicants;
  $('majority').value = design.majority;
  $('stage-count').value = String(stageCount());
  $('predictor-count').value = String(predictorCount());
  $('criterion-effect').value = design.criterionEffect;
  const np = predictorCount();

  const predictors = $('predictor-table');
  predictors.replaceChildren();
  const head = predictors.insertRow();
  for (const title of ['', 'Name', 'Effect size', ...(features.criterion ? ['Validity'] : [])]) cell(head, title, true);
  for (let j = 0; j < np; ++j) {
    const row = predictors.insertRow();
    cell(row, String(j + 1), true);
    cell(row, input('name-' + (j + 1), design.names[j], (v) => { design.names[j] = v; },
                    'Name of predictor ' + (j + 1), 'text'));
    cell(row, input('effect-' + (j + 1), design.effects[j], (v) => { design.effects[j] = v; },
                    'Effect size of predictor ' + (j + 1)));
    if (features.criterion) {
      cell(row, input('validity-' + (j + 1), design.validities[j], (v) => { design.validities[j] = v; },
                      'Validity of predictor ' + (j + 1)));
    }
  }

  const correlations = $('correlation-table');
  correlations.replaceChildren();
  const top = correlations.insertRow();
  cell(top, '', true);
  for (let j = 0; j < np; ++j) cell(top, String(j + 1), true);
  for (let i = 0; i < np; ++i) {
    const row = correlations.insertRow();
    cell(row, String(i + 1), true).title = design.names[i];
    for (let j = 0; j < np; ++j) {
      cell(row, input(`corr-${i + 1}-${j + 1}`, design.correlations[i][j], (v) => {
        design.correlations[i][j] = v;
        design.correlations[j][i] = v;
        const mirror = $(`corr-${j + 1}-${i + 1}`);
        if (mirror && mirror.value !== v) mirror.value = v;
      }, `Correlation of predictors ${i + 1} and ${j + 1}`));
    }
  }

  const stages = $('stage-table');
  stages.replaceChildren();
  const stageHead = stages.insertRow();
  cell(stageHead, 'Stage', true);
  cell(stageHead, 'Retained', true);
  for (let j = 0; j < np; ++j) cell(stageHead, 'Weight ' + (j + 1), true).title = design.names[j];
  for (let k = 0; k < stageCount(); ++k) {
    const row = stages.insertRow();
    cell(row, String(k + 1), true);
    cell(row, input('retained-' + (k + 1), design.retained[k], (v) => { design.retained[k] = v; },
                    `Applicants retained after stage ${k + 1}`, 'numeric'));
    for (let j = 0; j < np; ++j) {
      cell(row, input(`weight-${k + 1}-${j + 1}`, design.weights[k][j], (v) => { design.weights[k][j] = v; },
                      `Weight of predictor ${j + 1} at stage ${k + 1}`));
    }
  }
  for (const element of document.querySelectorAll('.criterion-only')) element.hidden = !features.criterion;
  const frontierStage = $('frontier-stage');
  frontierStage.replaceChildren(...design.retained.map((_, k) => new Option(String(k + 1), String(k))));
  frontierStage.value = String(stageCount() - 1);
  changed();
}

// ---- Checking: numbers first, then the library's rules, each message at its field ----
const INTEGER = /^\s*[+-]?\d+\s*$/;
const REAL = /^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$/;
let checked = { ok: false, text: null };
let checkTimer = null;
let checkRound = 0;

function clearMessages() {
  for (const element of document.querySelectorAll('#design .msg')) {
    if (element.id !== 'msg-file') { element.textContent = ''; element.classList.remove('warning'); }
  }
  for (const element of document.querySelectorAll('#design [aria-invalid]')) element.removeAttribute('aria-invalid');
}
function say(field, element, text, warning = false) {
  const box = $('msg-' + field);
  if (box) {
    box.textContent += (box.textContent ? '\n' : '') + text;
    box.classList.toggle('warning', warning && !box.classList.contains('error-shown'));
  }
  if (element && !warning) element.setAttribute('aria-invalid', 'true');
}
// The input a library diagnostic is about.
function elementOf(d) {
  switch (d.field) {
    case 'replications': return $('replications');
    case 'applicants': return $('applicants');
    case 'majority_applicants': return $('majority');
    case 'retained': return d.index ? $('retained-' + d.index) : $('stage-count');
    case 'effect_sizes': return d.index ? $('effect-' + d.index) : $('predictor-count');
    case 'correlations': return $(`corr-${d.index}-${d.second_index}`);
    case 'weights': return d.second_index ? $(`weight-${d.index}-${d.second_index}`) : $('weight-' + d.index + '-1');
    case 'validities': return d.index ? $('validity-' + d.index) : null;
    case 'criterion_effect_size': return $('criterion-effect');
    default: return null;
  }
}

function changed() {
  checked = { ok: false, text: null };
  updateRun();
  clearTimeout(checkTimer);
  checkTimer = setTimeout(check, 120);
}

async function check() {
  clearMessages();
  const round = ++checkRound;
  // Values the program could not read as the number it expects are named by the page.
  let readable = true;
  const need = (value, pattern, field, element, what) => {
    if (!pattern.test(value)) {
      say(field, element, value.trim() === '' ? `${what}: a number is needed` : `${what}: "${value}" is not a number`);
      readable = false;
    }
  };
  need(design.replications, INTEGER, 'replications', $('replications'), 'Replications');
  need(design.applicants, INTEGER, 'applicants', $('applicants'), 'Applicants');
  need(design.majority, INTEGER, 'majority_applicants', $('majority'), 'Majority applicants');
  design.retained.forEach((v, k) => need(v, INTEGER, 'retained', $('retained-' + (k + 1)), `Retained after stage ${k + 1}`));
  design.effects.forEach((v, j) => need(v, REAL, 'effect_sizes', $('effect-' + (j + 1)), `Effect size ${j + 1}`));
  design.correlations.forEach((row, i) => row.forEach((v, j) => {
    if (j <= i) need(v, REAL, 'correlations', $(`corr-${i + 1}-${j + 1}`), `Correlation ${i + 1}, ${j + 1}`);
  }));
  design.weights.forEach((row, k) => row.forEach((v, j) =>
    need(v, REAL, 'weights', $(`weight-${k + 1}-${j + 1}`), `Weight ${j + 1} at stage ${k + 1}`)));
  if (features.criterion && hasCriterion()) {
    design.validities.forEach((v, j) => need(v, REAL, 'validities', $('validity-' + (j + 1)), `Validity ${j + 1}`));
    if (design.criterionEffect.trim() !== '') {
      need(design.criterionEffect, REAL, 'criterion_effect_size', $('criterion-effect'), 'Criterion effect size');
    }
  }
  if (!readable) { updateRun(); return; }
  const text = problemText();
  let answer;
  try { answer = await checker.call('read', text); } catch (error) { return; }
  if (round !== checkRound) return;
  for (const d of answer.diagnostics || []) {
    say(d.field || 'file', elementOf(d), d.lines.join('\n'), d.severity === 'warning');
  }
  checked = { ok: answer.ok, text: answer.ok ? answer.text : null, typed: text };
  updateRun();
}

// ---- Runs ----
let running = false;  // 'run', 'frontier' or false
let lastRun = null;  // {json, text, seed, result}

function updateRun() {
  const seedOk = INTEGER.test($('seed').value);
  $('msg-seed').textContent = seedOk ? '' : 'The seed is a whole number of seconds';
  $('run').disabled = running || !checked.ok || !seedOk;
  $('cancel').disabled = !running;
  $('frontier-run').disabled = running || !checked.ok || !seedOk || !hasCriterion();
  $('seed-echo').textContent = $('seed').value.trim();
}

function showProgress(done, total) {
  $('progress').max = total;
  $('progress').value = done;
  $('status').textContent = `${done} of ${total}`;
}

function setState(state) { $('results').dataset.state = state; }

async function run() {
  if (!checked.ok) return;
  const text = checked.text;
  const seed = Number($('seed').value);
  running = 'run';
  updateRun();
  setState('running');
  $('status').textContent = 'Running…';
  $('progress').value = 0;
  const started = performance.now();
  try {
    const answer = await runner.call('run', text, seed);
    const seconds = (performance.now() - started) / 1000;
    if (!answer.ok) {
      showRunError(answer.lines);
    } else {
      lastRun = { json: answer.json, text, seed, result: JSON.parse(answer.json) };
      showResults(lastRun.result, answer.lines);
      $('status').textContent = `Done in ${seconds.toFixed(2)} s`;
      $('results').dataset.seconds = seconds.toFixed(3);
      setState('done');
    }
  } catch (error) {
    if (error.message !== 'cancelled') showRunError([error.message]);
  } finally {
    running = false;
    updateRun();
  }
}

function cancel() {
  if (!running) return;
  runner.restart();
  if (running === 'run') setState('cancelled');
  else $('frontier').dataset.state = 'cancelled';
  running = false;
  $('status').textContent = 'Cancelled';
  $('progress').value = 0;
  updateRun();
}

function showRunError(lines) {
  $('run-error').hidden = false;
  $('run-error').textContent = lines.join('\n');
  $('results-body').hidden = true;
  $('results-empty').hidden = true;
  $('status').textContent = 'Stopped without results';
  setState('error');
}

// ---- Results ----
function table(element, headers, rows) {
  element.replaceChildren();
  const head = element.createTHead().insertRow();
  for (const h of headers) cell(head, h, true);
  const body = element.createTBody();
  for (const r of rows) {
    const row = body.insertRow();
    r.forEach((v, i) => cell(row, String(v), i === 0 && typeof v === 'string'));
  }
}
const interval = (p) => `${percent(p.share)} (95 % interval ${percent(p.lower)} to ${percent(p.upper)})`;

function showResults(r, extraLines) {
  $('run-error').hidden = !extraLines;
  $('run-error').textContent = extraLines ? extraLines.join('\n') : '';
  $('results-empty').hidden = true;
  $('results-body').hidden = false;
  const s = r.summary;
  $('headline').innerHTML =
    `<p class="big">P(AI &lt; 0.8) = <strong>${interval(r.ai_below_0_8)}</strong></p>` +
    `<p>Expected AI ${fixed(s.expected_ai)}; ${r.ai_below_0_8.count} of ${r.ai_below_0_8.total} ` +
    `replications with a defined AI fall below four fifths, ${s.undefined} hired no majority ` +
    `applicant (seed second ${r.seed_second}).</p>`;
  $('picture').innerHTML = pictureSvg(r);
  const stageQuality = r.quality && Array.isArray(r.quality.stages) ? r.quality.stages : null;
  table($('stage-results'), ['Stage', 'Retained', 'Majority rate', 'Minority rate', 'AI (mean)',
                             'With AI', ...(stageQuality ? ['Quality'] : [])],
        r.stages.map((st, k) => [String(st.stage), st.retained, fixed(st.majority_rate), fixed(st.minority_rate),
                                 fixed(st.ai), st.ai_defined, ...(stageQuality ? [fixed(stageQuality[k].mean)] : [])]));
  const rows = [['Expected value', fixed(s.expected_ai), fixed(s.expected_sra), fixed(s.expected_sri)]];
  for (const [label, key] of [['Median', 'p50'], ['25th percentile', 'p25'], ['75th percentile', 'p75']]) {
    if (s.ai) rows.push([label, fixed(s.ai[key]), fixed(s.sra[key]), fixed(s.sri[key])]);
  }
  table($('summary-table'), ['', 'AI', 'SRA (majority)', 'SRI (minority)'], rows);
  $('summary-table').caption = null;
  const caption = $('summary-table').createCaption();
  caption.textContent = `SR ${fixed(s.sr)}; composite effect size of each stage: ` +
    r.composite_effect_sizes.map((d) => fixed(d)).join(', ');
  showTests(r);
  showQuality(r);
}

function showTests(r) {
  const tests = r.tests && (r.tests.rules || r.tests);
  const section = $('tests-section');
  const entries = tests && typeof tests === 'object'
    ? Object.entries(tests).filter(([, v]) => v && typeof v === 'object' && 'share' in v) : [];
  section.hidden = entries.length === 0;
  if (section.hidden) return;
  table($('tests-table'), ['Rule', 'Flagged', '95 % interval', 'Expected with no group difference'],
        entries.map(([name, v]) => [name.replace(/_/g, ' '), percent(v.share),
          `${percent(v.lower)} to ${percent(v.upper)}`,
          v.expected_under_no_difference === undefined ? '–' : percent(v.expected_under_no_difference)]));
  const caption = $('tests-table').createCaption();
  caption.textContent = 'The final selection of each replication judged by each rule' +
    (r.significance !== undefined ? `, the tests at significance level ${r.significance}` : '') +
    '; the last column is the share the rule flags when both groups score alike.';
}

function showQuality(r) {
  const q = r.quality;
  const section = $('quality-section');
  section.hidden = !q || typeof q !== 'object';
  if (section.hidden) return;
  const rows = [];
  for (const [group, label] of [['overall', 'All hires'], ['majority', 'Majority hires'], ['minority', 'Minority hires']]) {
    const d = q[group];
    if (!d || typeof d !== 'object') continue;
    const p = d.percentiles || d;
    rows.push([label, fixed(d.mean), fixed(d.sd), fixed(d.standard_error, 4), fixed(p.p50), fixed(p.p25), fixed(p.p75)]);
  }
  table($('quality-table'), ['Mean criterion score of', 'Mean', 'SD', 'Standard error', 'Median', '25th', '75th'], rows);
  const caption = $('quality-table').createCaption();
  const validities = q.composite_validities ? q.composite_validities.map((v) => fixed(v)).join(', ') : '–';
  caption.textContent = `In standard deviations of the criterion; composite validity of each stage ${validities}` +
    (q.criterion_effect_size !== undefined ? `; criterion effect size ${fixed(q.criterion_effect_size)}` : '');
}

// The AI distribution: each distinct value a bar of its share of all replications.
function pictureSvg(r) {
  const W = 640, H = 300, left = 70, right = 20, top = 20, bottom = 50;
  const s = r.summary;
  const total = s.defined + s.undefined;
  const rows = s.frequency || [];
  const largest = rows.reduce((m, row) => Math.max(m, row.value), 1);
  const xMax = Math.ceil(largest * 10) / 10;
  const undefShare = total ? s.undefined / total : 0;
  const highest = Math.max(undefShare, ...rows.map((row) => row.count / total), 0.01);
  const tick = [0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5].find((t) => highest / t <= 5) || 0.25;
  const yMax = Math.ceil(highest / tick) * tick;
  const plotLeft = left + 70;  // room for the Undef bar
  const x = (v) => plotLeft + (v / xMax) * (W - plotLeft - right);
  const y = (share) => top + (1 - share / yMax) * (H - top - bottom);
  const bar = Math.max(2, Math.min(14, (W - plotLeft - right) / Math.max(rows.length, 1) * 0.8));
  const parts = [`<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${W} ${H}" width="100%" role="img" ` +
    `aria-labelledby="picture-title" font-family="sans-serif" font-size="12">`,
    `<title id="picture-title">Distribution of AI over ${total} replications: expected AI ${fixed(s.expected_ai)}, ` +
    `P(AI &lt; 0.8) ${percent(r.ai_below_0_8.share)}</title>`,
    `<rect x="0" y="0" width="${W}" height="${H}" fill="#fff"/>`];
  for (let t = 0; t <= Math.round(yMax / tick); ++t) {
    const share = t * tick;
    parts.push(`<line x1="${left}" x2="${W - right}" y1="${y(share)}" y2="${y(share)}" stroke="#e5e5e5"/>`,
               `<text x="${left - 6}" y="${y(share) + 4}" text-anchor="end">${(100 * share).toFixed(0)} %</text>`);
  }
  const undefX = left + 28;
  parts.push(`<rect x="${undefX - 10}" y="${y(undefShare)}" width="20" height="${y(0) - y(undefShare)}" fill="#999"><title>Undef: ${percent(undefShare)} (${s.undefined})</title></rect>`,
             `<text x="${undefX}" y="${H - bottom + 16}" text-anchor="middle">Undef</text>`);
  for (const row of rows) {
    const share = row.count / total;
    const fill = row.value < 0.8 ? '#c0392b' : '#2e86c1';
    parts.push(`<rect x="${x(row.value) - bar / 2}" y="${y(share)}" width="${bar}" height="${Math.max(0, y(0) - y(share))}" fill="${fill}">` +
               `<title>AI ${fixed(row.value)}: ${percent(share)} (${row.count})</title></rect>`);
  }
  parts.push(`<line x1="${left}" x2="${W - right}" y1="${y(0)}" y2="${y(0)}" stroke="#333"/>`);
  for (let t = 0; t <= Math.round(xMax * 5); ++t) {
    const v = t / 5;
    parts.push(`<line x1="${x(v)}" x2="${x(v)}" y1="${y(0)}" y2="${y(0) + 4}" stroke="#333"/>`,
               `<text x="${x(v)}" y="${y(0) + 16}" text-anchor="middle">${v.toFixed(1)}</text>`);
  }
  parts.push(`<line x1="${x(0.8)}" x2="${x(0.8)}" y1="${top}" y2="${y(0)}" stroke="#000" stroke-dasharray="5 4"/>`,
             `<text x="${x(0.8) + 4}" y="${top + 10}">0.8</text>`);
  if (s.ai) {
    parts.push(`<line x1="${x(s.expected_ai)}" x2="${x(s.expected_ai)}" y1="${top}" y2="${y(0)}" stroke="#1e8449" stroke-width="2"/>`,
               `<text x="${x(s.expected_ai) + 4}" y="${top + 26}" fill="#1e8449">expected AI ${fixed(s.expected_ai)}</text>`);
  }
  parts.push(`<text x="${(plotLeft + W - right) / 2}" y="${H - 8}" text-anchor="middle">AI (minority hiring rate / majority hiring rate)</text>`,
             `<text transform="translate(14 ${(top + H - bottom) / 2}) rotate(-90)" text-anchor="middle">share of replications</text>`,
             '</svg>');
  return parts.join('\n');
}

// ---- The frontier ----
async function searchFrontier() {
  if (!checked.ok || running) return;
  const step = Number($('frontier-step').value);
  running = 'frontier';
  $('frontier').dataset.state = 'running';
  updateRun();
  $('frontier-error').textContent = '';
  $('status').textContent = 'Searching…';
  try {
    const answer = await runner.call('frontier', checked.text, Number($('seed').value),
                                     Number($('frontier-stage').value), step);
    if (!answer.ok) {
      $('frontier-error').textContent = (answer.lines || answer.diagnostics.flatMap((d) => d.lines)).join('\n');
      $('frontier').dataset.state = 'error';
    } else {
      drawFrontier(answer.points);
      $('status').textContent = `${answer.points.length} weightings tried`;
      $('frontier').dataset.state = 'done';
    }
  } catch (error) {
    if (error.message !== 'cancelled') {
      $('frontier-error').textContent = error.message;
      $('frontier').dataset.state = 'error';
    }
  } finally {
    running = false;
    updateRun();
  }
}

function drawFrontier(points) {
  const W = 640, H = 340, left = 70, right = 20, top = 20, bottom = 50;
  const xs = points.map((p) => p.below), ys = points.map((p) => p.quality);
  const x0 = 0, x1 = Math.min(1, Math.ceil(Math.max(...xs, 0.01) * 4) / 4);  // a share: 0 to at most 1
  const y0 = Math.min(...ys), y1 = Math.max(...ys);
  const pad = (y1 - y0) * 0.05 || 0.05;
  const x = (v) => left + (v - x0) / (x1 - x0) * (W - left - right);
  const y = (v) => top + (1 - (v - (y0 - pad)) / (y1 - y0 + 2 * pad)) * (H - top - bottom);
  const names = design.names;
  const describe = (p) => `weights ${p.weights.map((w, j) => `${names[j] || 'Predictor ' + (j + 1)} ${floatText(w)}`).join(', ')}: ` +
    `quality ${fixed(p.quality)}, P(AI < 0.8) ${percent(p.below)}, expected AI ${fixed(p.expected_ai)}` +
    (p.on_front ? ' (on the front)' : '');
  const front = points.filter((p) => p.on_front).sort((a, b) => a.below - b.below);
  const parts = [`<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${W} ${H}" width="100%" role="group" aria-label="Quality of hires against P(AI < 0.8)" font-family="sans-serif" font-size="12">`,
    `<rect x="0" y="0" width="${W}" height="${H}" fill="#fff"/>`,
    `<line x1="${left}" x2="${W - right}" y1="${H - bottom}" y2="${H - bottom}" stroke="#333"/>`,
    `<line x1="${left}" x2="${left}" y1="${top}" y2="${H - bottom}" stroke="#333"/>`];
  for (let t = 0; t <= 4; ++t) {
    const vx = x0 + (x1 - x0) * t / 4, vy = y0 - pad + (y1 - y0 + 2 * pad) * t / 4;
    parts.push(`<text x="${x(vx)}" y="${H - bottom + 16}" text-anchor="middle">${percent(vx)}</text>`,
               `<text x="${left - 6}" y="${y(vy) + 4}" text-anchor="end">${vy.toFixed(2)}</text>`);
  }
  if (front.length > 1) {
    parts.push(`<polyline fill="none" stroke="#c0392b" stroke-width="1.5" points="${front.map((p) => `${x(p.below)},${y(p.quality)}`).join(' ')}"/>`);
  }
  points.forEach((p, i) => {
    parts.push(`<g class="point" tabindex="0" data-index="${i}" role="img" aria-label="${escapeXml(describe(p))}">` +
      `<title>${escapeXml(describe(p))}</title>` +
      `<circle cx="${x(p.below)}" cy="${y(p.quality)}" r="${p.on_front ? 5 : 3.5}" ` +
      `fill="${p.on_front ? '#c0392b' : '#fff'}" stroke="${p.on_front ? '#c0392b' : '#2e86c1'}"/></g>`);
  });
  parts.push(`<text x="${(left + W - right) / 2}" y="${H - 8}" text-anchor="middle">P(AI &lt; 0.8)</text>`,
             `<text transform="translate(14 ${(top + H - bottom) / 2}) rotate(-90)" text-anchor="middle">mean criterion score of the hires</text>`,
             '</svg>');
  const plot = $('frontier-plot');
  plot.innerHTML = parts.join('\n');
  const show = (event) => {
    const g = event.target.closest('.point');
    if (g) $('frontier-point').textContent = describe(points[Number(g.dataset.index)]);
  };
  plot.addEventListener('mouseover', show);
  plot.addEventListener('focusin', show);
}

// ---- Downloads ----
function download(name, text, type) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], { type }));
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}
$('download-problem').addEventListener('click', () =>
  download('problem.txt', checked.text || problemText(), 'text/plain'));
$('download-json').addEventListener('click', () => {
  if (lastRun) download(`pelko-${lastRun.seed}.json`, lastRun.json, 'application/json');
});
$('download-csv').addEventListener('click', async () => {
  if (!lastRun) return;
  try {
    download(`pelko-${lastRun.seed}.csv`, await runner.call('csv'), 'text/csv');
  } catch (error) { /* a cancelled run took the replications with it */ }
});
$('download-svg').addEventListener('click', () => {
  if (lastRun) download(`pelko-${lastRun.seed}.svg`, pictureSvg(lastRun.result), 'image/svg+xml');
});

// ---- Presets and files ----
const presets = JSON.parse($('presets').textContent);
$('preset').replaceChildren(...presets.map((p, i) => new Option(p.title, String(i))));
async function usePreset(index) {
  const preset = presets[index];
  const answer = await checker.call('read', preset.text);
  $('msg-file').textContent = '';
  if (answer.ok) setDesign(answer.problem, preset.names);
  $('preset-note').textContent = preset.note || '';
}
$('apply-preset').addEventListener('click', () => usePreset(Number($('preset').value)));
$('problem-file').addEventListener('change', async () => {
  const file = $('problem-file').files[0];
  if (!file) return;
  const text = await file.text();
  const answer = await checker.call('read', text);
  const errors = (answer.diagnostics || []).filter((d) => d.severity === 'error');
  $('msg-file').textContent = errors.map((d) =>
    (d.line ? `${file.name}:${d.line}:${d.column}: ` : `${file.name}: `) + d.lines.join('\n')).join('\n');
  if (answer.ok) {
    setDesign(answer.problem);
    $('preset-note').textContent = `Read from ${file.name}.`;
  } else {
    checked = { ok: false, text: null };
    updateRun();
  }
});

// ---- Wiring ----
for (const [id, key] of [['replications', 'replications'], ['applicants', 'applicants'], ['majority', 'majority'],
                         ['criterion-effect', 'criterionEffect']]) {
  $(id).addEventListener('input', () => { design[key] = $(id).value; changed(); });
}
$('predictor-count').replaceChildren(...Array.from({ length: MAX_PREDICTORS }, (_, j) => new Option(String(j + 1))));
$('stage-count').addEventListener('change', () => { resize(predictorCount(), Number($('stage-count').value)); render(); });
$('predictor-count').addEventListener('change', () => { resize(Number($('predictor-count').value), stageCount()); render(); });
$('seed').addEventListener('input', updateRun);
$('new-seed').addEventListener('click', () => { $('seed').value = String(Math.floor(Date.now() / 1000)); updateRun(); });
$('run').addEventListener('click', run);
$('cancel').addEventListener('click', cancel);
$('frontier-run').addEventListener('click', searchFrontier);
document.addEventListener('keydown', (event) => { if (event.key === 'Escape') cancel(); });

(async () => {
  $('seed').value = String(Math.floor(Date.now() / 1000));
  features = await checker.call('features');
  $('version').textContent = features.version;
  $('frontier').hidden = !features.frontier;
  resize(3, Math.min(2, MAX_STAGES));
  await usePreset(0);
})();
})();
