'use strict';
(function () {
  const $ = (id) => document.getElementById(id);
  const query = $('query'), strategy = $('strategy'), results = $('results');
  const status = $('status'), entry = $('entry'), problems = $('problems');
  let keys = [], selected = -1, ticket = 0, timer = 0;

  function element(tag, text, cls) {
    const e = document.createElement(tag);
    if (text !== undefined) e.textContent = text;
    if (cls) e.className = cls;
    return e;
  }

  function count(n, one, many) { return `${n} ${n === 1 ? one : many}`; }
  function showProblems(list) {
    problems.replaceChildren();
    problems.hidden = !list || list.length === 0;
    for (const p of list || []) problems.append(element('div', p));
  }

  async function api(path, params) {
    const url = path + '?' + new URLSearchParams(params).toString();
    const response = await fetch(url);
    const body = await response.json();
    if (!response.ok) throw new Error(body.error || response.statusText);
    if (body.problems) showProblems(body.problems);
    return body;
  }

  function select(i) {
    selected = i;
    results.querySelectorAll('li').forEach((li, k) => {
      li.setAttribute('aria-selected', k === i ? 'true' : 'false');
      if (k === i) li.scrollIntoView({ block: 'nearest' });
    });
  }

  function list(items, more) {
    keys = items;
    results.replaceChildren();
    items.forEach((k, i) => {
      const li = element('li', k);
      li.setAttribute('role', 'option');
      li.addEventListener('mousedown', (ev) => { ev.preventDefault(); select(i); open(k, 'exact'); });
      results.append(li);
    });
    select(items.length ? 0 : -1);
    status.textContent = items.length ? (more ? 'more below: type on' : '') : 'no key begins so';
  }

  async function suggest() {
    const mine = ++ticket;
    const text = query.value;
    const s = strategy.value;
    if (s === 'lev') {
      list([], false);
      status.textContent = text ? 'Enter searches the whole dictionary' : '';
      return;
    }
    try {
      // Keys as the text is typed, without case, each once, in dictionary order.
      const body = await api('/api/keys', { prefix: text, nocase: 1, limit: 50 });
      if (mine === ticket) list(body.keys, body.more);
    } catch (e) {
      if (mine === ticket) status.textContent = e.message;
    }
  }

  function showEntries(body) {
    entry.replaceChildren();
    if (body.entries.length === 0) {
      entry.append(element('p', 'Not found: ' + body.query, 'missing'));
      if (body.suggestions && body.suggestions.length) {
        const p = element('p', 'Did you mean: ', 'suggestions');
        body.suggestions.forEach((k, i) => {
          const b = element('button', k);
          b.type = 'button';
          b.addEventListener('click', () => { query.value = k; open(k, 'exact'); });
          if (i) p.append(', ');
          p.append(b);
        });
        entry.append(p);
      }
      return;
    }
    if (body.without_case_and_accents) {
      entry.append(element('p', `'${body.query}' not found; without case and accents: '${body.found_as}'`,
        'hint'));
    }
    for (const e of body.entries) {
      const article = element('article');
      const key = element('h2', e.key, 'key');
      const value = element('p', e.value, 'value');
      key.dir = 'auto';  // each line in its own direction: right-to-left text keeps its order
      value.dir = 'auto';
      article.append(key, value);
      entry.append(article);
    }
    linkReferences(body.entries);
    if (body.more) entry.append(element('p', 'More entries match; narrow the search.', 'hint'));
  }

  // Cross-references as dictd dictionaries write them, {Apple blight}, become
  // links that look the word up, where the database has that key (as written
  // or but for case and accents); so do the headwords a form's entry points
  // at ("\u2192 go, went"). The value's text nodes are split, never parsed
  // as markup.
  const REFERENCE = /\{([^{}\n]{1,200})\}/g;
  const POINTER = /^(?:\u2192|->) (.+)$/;
  function pointed(text) {
    const m = POINTER.exec(text);
    return m ? m[1].split(', ') : [];
  }
  function link(word, target) {
    const a = element('a', word, 'reference');
    a.href = '?' + new URLSearchParams({ q: target, s: 'exact' }).toString();
    a.addEventListener('click', (ev) => { ev.preventDefault(); query.value = target; open(target, 'exact'); });
    return a;
  }
  async function linkReferences(entries) {
    const mine = ticket;
    const words = new Set();
    for (const e of entries) {
      for (const m of e.value.matchAll(REFERENCE)) words.add(m[1]);
      for (const w of pointed(e.value)) words.add(w);
    }
    if (words.size === 0) return;
    let targets;
    try {
      const params = new URLSearchParams();
      [...words].slice(0, 200).forEach((w) => params.append('k', w));
      const response = await fetch('/api/exists?' + params.toString());
      targets = (await response.json()).targets || {};
    } catch (e) {
      return;
    }
    if (mine !== ticket) return;
    entry.querySelectorAll('.value').forEach((p) => {
      const text = p.textContent;
      const pointers = pointed(text);
      if (pointers.length && pointers.every((w) => targets[w])) {
        const parts = [text.slice(0, text.length - pointers.join(', ').length)];
        pointers.forEach((w, i) => { if (i) parts.push(', '); parts.push(link(w, targets[w])); });
        p.replaceChildren(...parts);
        return;
      }
      const parts = [];
      let at = 0;
      for (const m of text.matchAll(REFERENCE)) {
        if (!targets[m[1]]) continue;
        parts.push(text.slice(at, m.index));
        parts.push(link(m[1], targets[m[1]]));
        at = m.index + m[0].length;
      }
      if (at === 0) return;
      parts.push(text.slice(at));
      p.replaceChildren(...parts);
    });
  }
  // Each entry looked at is a page of the browser's history: Back and
  // Forward move between them.
  async function open(text, how, remembered) {
    const mine = ++ticket;
    try {
      const body = await api('/api/lookup', { q: text, s: how, limit: 50 });
      if (mine !== ticket) return;
      showEntries(body);
      if (how === 'lev') list([...new Set(body.entries.map((e) => e.key))], body.more);
      const address = '?' + new URLSearchParams({ q: text, s: how }).toString();
      if (remembered) history.replaceState({ q: text, s: how }, '', address);
      else if (location.search !== address) history.pushState({ q: text, s: how }, '', address);
    } catch (e) {
      if (mine === ticket) {
        entry.replaceChildren(element('p', e.message, 'missing'));
      }
    }
  }

  query.addEventListener('input', () => { clearTimeout(timer); timer = setTimeout(suggest, 60); });
  strategy.addEventListener('change', () => suggest());
  query.addEventListener('keydown', (ev) => {
    if (ev.key === 'ArrowDown' && keys.length) {
      ev.preventDefault();
      select(Math.min(selected + 1, keys.length - 1));
    } else if (ev.key === 'ArrowUp' && keys.length) {
      ev.preventDefault();
      select(Math.max(selected - 1, 0));
    } else if (ev.key === 'Enter') {
      ev.preventDefault();
      const s = strategy.value;
      if ((s === 'prefix' || s === 'exact') && selected >= 0) open(keys[selected], 'exact');
      else open(query.value, s === 'prefix' && selected < 0 ? 'prefix' : s);
    }
  });

  const SVG = 'http://www.w3.org/2000/svg';
  function svg(tag, attrs, text) {
    const e = document.createElementNS(SVG, tag);
    for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, String(v));
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // Stored and text size per chunk (the largest in each column when there
  // are more chunks than columns), then the index record against its limit.
  function picture(info, chunks) {
    const W = 900, H = 220, top = 16, left = 56, plotW = W - left - 10, plotH = 150;
    const root = svg('svg', { viewBox: `0 0 ${W} ${H + 70}`, role: 'img', id: 'chunk-picture' });
    root.append(svg('title', {}, 'Stored and text bytes per chunk; the index record'));
    const n = chunks.length;
    const max = Math.max(1, ...chunks.map((c) => c.text_bytes || c.stored_bytes || 0));
    const columns = Math.min(n, plotW);
    const text = new Array(columns).fill(0), stored = new Array(columns).fill(0);
    chunks.forEach((c, i) => {
      const col = Math.floor(i * columns / n);
      text[col] = Math.max(text[col], c.text_bytes || 0);
      stored[col] = Math.max(stored[col], c.stored_bytes || 0);
    });
    const bw = plotW / Math.max(columns, 1);
    const y = (v) => top + plotH - v / max * plotH;
    for (let i = 0; i < columns; i++) {
      const x = left + i * bw;
      root.append(svg('rect', { x, y: y(text[i]), width: Math.max(bw - (bw > 3 ? 1 : 0), 0.5),
                                height: top + plotH - y(text[i]), class: 'text-bar' }));
      root.append(svg('rect', { x, y: y(stored[i]), width: Math.max(bw - (bw > 3 ? 1 : 0), 0.5),
                                height: top + plotH - y(stored[i]), class: 'stored-bar' }));
    }
    root.append(svg('line', { x1: left, y1: top + plotH, x2: left + plotW, y2: top + plotH,
                              class: 'axis' }));
    root.append(svg('text', { x: left - 6, y: top + 4, 'text-anchor': 'end', class: 'label' },
                    String(max)));
    root.append(svg('text', { x: left - 6, y: top + plotH, 'text-anchor': 'end', class: 'label' },
                    '0'));
    root.append(svg('text', { x: left, y: top + plotH + 14, class: 'label' },
                    `${count(n, 'chunk', 'chunks')}: text bytes (light), stored bytes (dark)`));
    const limit = 65535, index = info.index_record_bytes;
    const iy = top + plotH + 34, full = Math.min(index / limit, 1.5);
    root.append(svg('rect', { x: left, y: iy, width: plotW * (2 / 3), height: 14,
                              class: 'limit-bar' }));
    root.append(svg('rect', { x: left, y: iy, width: plotW * (2 / 3) * full, height: 14,
                              class: index > limit ? 'index-bar over' : 'index-bar' }));
    root.append(svg('text', { x: left, y: iy + 30, class: 'label', id: 'index-label' },
                    `index record: ${index} of ${limit} bytes` +
                    (index > limit ? ' (over: the database must go on a memory card)' : '')));
    $('picture').replaceChildren(root);
  }

  async function start() {
    try {
      const [info, chunks] = await Promise.all([api('/api/info', {}), api('/api/chunks', {})]);
      $('title').textContent = info.name;
      document.title = info.name + ' \u2014 zelkdump';
      $('summary').textContent = `${count(info.entries, 'entry', 'entries')} in ` +
        `${count(info.chunks, 'chunk', 'chunks')}, ` +
        `${info.compressed ? 'compressed to ' + info.ratio.toFixed(1) + ' %' : 'not compressed'}; ` +
        `longest key ${info.longest_key} bytes, longest value ${info.longest_value} bytes` +
        (info.damaged_chunks ? `; ${count(info.damaged_chunks, 'damaged chunk', 'damaged chunks')}` : '');
      if (info.damaged_chunks) {
        showProblems([`${count(info.damaged_chunks, 'chunk is', 'chunks are')} damaged`]);
      }
      picture(info, chunks.chunks);
    } catch (e) {
      showProblems(['Cannot read the database: ' + e.message]);
    }
  }

  // The lookup an address names: the list as typing the word would fill it,
  // then the entry.
  function openAddress() {
    const params = new URLSearchParams(location.search);
    if (!params.has('q')) return suggest();
    const s = params.get('s') || 'exact';
    query.value = params.get('q');
    if ([...strategy.options].some((o) => o.value === s)) strategy.value = s;
    return suggest().then(() => open(query.value, s, true));
  }
  window.addEventListener('popstate', () => openAddress());
  openAddress();
  start();
})();
