// The widget's boot script (main.js) in headless Chromium, against a small portal
// served on 127.0.0.1 by this test. The page and its script come out of the built Velmora.wgt.
//
//   VELMORA_WGT=.../Velmora.wgt VELMORA_PORTAL_URL=https://portal.velmora.example/tv/ \
//     node --test boot.test.mjs
//
// One browser for the whole table; each case gets a fresh context. Nothing leaves the machine:
// the built-in portal URL (a reserved domain) is answered by a route inside the browser, every
// other address but 127.0.0.1 is refused, and host names resolve to nothing.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (e) {
  throw new Error(`playwright-core is missing: run "npm ci" in widget/tests (scripts/test.sh does) (${e.message})`);
}

const WGT = process.env.VELMORA_WGT;
const PORTAL_URL = process.env.VELMORA_PORTAL_URL;
assert.ok(WGT && PORTAL_URL, 'set VELMORA_WGT and VELMORA_PORTAL_URL');

// The entries of a ZIP archive by name, read through its central directory.
function unzip(file) {
  const buf = fs.readFileSync(file);
  const end = buf.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
  const count = buf.readUInt16LE(end + 10);
  let at = buf.readUInt32LE(end + 16);
  const files = new Map();
  for (let i = 0; i < count; i++) {
    const method = buf.readUInt16LE(at + 10);
    const csize = buf.readUInt32LE(at + 20);
    const nameLen = buf.readUInt16LE(at + 28);
    const skip = nameLen + buf.readUInt16LE(at + 30) + buf.readUInt16LE(at + 32);
    const local = buf.readUInt32LE(at + 42);
    const name = buf.toString('utf8', at + 46, at + 46 + nameLen);
    const dataAt = local + 30 + buf.readUInt16LE(local + 26) + buf.readUInt16LE(local + 28);
    const raw = buf.subarray(dataAt, dataAt + csize);
    files.set(name, method === 8 ? zlib.inflateRawSync(raw) : raw);
    at += 46 + skip;
  }
  return files;
}

const TYPES = { html: 'text/html', js: 'text/javascript', css: 'text/css', png: 'image/png' };
// 1x1 transparent GIF: the portal's loading image.
const GIF = Buffer.from('R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7', 'base64');
// The portal's start script: reports what the boot script left for it.
const START_SCRIPT = `window.__portal = {
  ppath: ppath, filename: filename,
  lp: !!document.getElementById('lp'), log: !!document.getElementById('log'),
  src: document.currentScript.getAttribute('src')
};`;

// One answer for both portals (the local one and the built-in URL): the start script, the
// loading image, or nothing.
function portalAnswer(pathname) {
  if (pathname.endsWith('/tizen_start.php')) return { status: 200, type: 'text/javascript', body: START_SCRIPT };
  if (pathname.endsWith('/images/loading-gif-animation.gif')) return { status: 200, type: 'image/gif', body: GIF };
  return { status: 404, type: 'text/plain', body: 'not here' };
}

let server;
let base; // http://127.0.0.1:PORT
let browser;
let profile;
const seen = []; // raw request targets, as the server and the route received them

before(async () => {
  const widget = unzip(WGT);
  server = http.createServer((req, res) => {
    seen.push(req.url);
    const pathname = req.url.split('?')[0];
    if (pathname.startsWith('/widget/')) {
      const body = widget.get(pathname.slice('/widget/'.length));
      if (body && !pathname.endsWith('/')) {
        res.writeHead(200, { 'Content-Type': TYPES[pathname.split('.').pop()] || 'application/octet-stream' });
        return res.end(body);
      }
      res.writeHead(404);
      return res.end();
    }
    const a = portalAnswer(pathname);
    res.writeHead(a.status, { 'Content-Type': a.type, 'Cache-Control': 'no-store' });
    res.end(a.body);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  base = `http://127.0.0.1:${server.address().port}`;

  profile = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-chromium-'));
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1',
    ],
    // Playwright gives the browser a fresh --user-data-dir of its own; keep its temp files here.
    tracesDir: profile,
  });
});

after(async () => {
  await browser?.close();
  await new Promise((resolve) => (server ? server.close(resolve) : resolve()));
  if (profile) fs.rmSync(profile, { recursive: true, force: true });
});

async function waitFor(predicate, what, ms = 5000) {
  const until = Date.now() + ms;
  while (!predicate()) {
    if (Date.now() > until) throw new Error(`timed out waiting for ${what}; requests: ${seen.join(' ')}`);
    await new Promise((r) => setTimeout(r, 20));
  }
}

// Opens the widget with `query` and returns what happened.
async function boot(query, waitForRequest) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
  await context.route('**/*', (route) => route.abort('addressunreachable'));
  await context.route((url) => url.origin === base.replace(/\/$/, ''), (route) => route.continue());
  await context.route((url) => url.href.startsWith(PORTAL_URL), (route) => {
    const url = new URL(route.request().url());
    seen.push(`[portal] ${url.href}`);
    const a = portalAnswer(url.pathname);
    return route.fulfill({ status: a.status, contentType: a.type, body: a.body });
  });
  const page = await context.newPage();
  const navigations = [];
  page.on('framenavigated', (f) => f === page.mainFrame() && navigations.push(f.url()));
  seen.length = 0;

  await page.goto(`${base}/widget/index.html${query}`);
  await waitFor(() => seen.some((s) => s.includes(waitForRequest)), waitForRequest);
  await page.waitForLoadState('load');
  // A moment for any further change of location to show itself.
  await new Promise((r) => setTimeout(r, 150));

  const state = await page.evaluate(() => {
    const lp = document.getElementById('lp');
    const img = lp && lp.querySelector('img');
    const scripts = [...document.head.querySelectorAll('script')].map((s) => s.getAttribute('src'));
    const r = lp && lp.getBoundingClientRect();
    return {
      location: String(window.location.href),
      ppath: window.ppath,
      filename: window.filename,
      portal: window.__portal || null,
      box: lp && {
        parent: lp.parentElement.id, className: lp.className, children: lp.children.length,
        left: r.left, top: r.top, width: r.width, height: r.height,
        imgSrc: img.getAttribute('src'), imgClass: img.className,
      },
      lastScript: scripts[scripts.length - 1],
      log: document.getElementById('log').innerHTML,
    };
  });
  await context.close();
  return { navigations, state, requests: [...seen] };
}

const L = () => `${base}/`; // the local portal's base, known once the server listens

// The table: query, expected ppath, the request to wait for, and what else must hold.
const CASES = [
  {
    name: 'no query: one redirect to pt=portal URL, then the box and the start script',
    query: () => '',
    ppath: () => PORTAL_URL,
    waitFor: () => `[portal] ${PORTAL_URL}tizen_start.php`,
    redirects: 1,
    portalRuns: true,
  },
  {
    name: 'pt empty: both paths relative to the package, which has neither file',
    query: () => '?pt=',
    ppath: () => '',
    waitFor: () => '/widget/tizen_start.php',
    portalRuns: false,
  },
  {
    name: 'pt twice: the last one wins, other keys ignored',
    query: () => `?pt=${L()}first/&x=1&pt=${L()}second/&y`,
    ppath: () => `${L()}second/`,
    waitFor: () => '/second/tizen_start.php',
    portalRuns: true,
    never: '/first/',
  },
  {
    name: 'a value with "=" is cut there',
    query: () => `?pt=${L()}eq/=dropped/&z=1`,
    ppath: () => `${L()}eq/`,
    waitFor: () => '/eq/tizen_start.php',
    portalRuns: true,
  },
  {
    name: 'percent escapes are kept undecoded',
    query: () => `?pt=${L()}a%20b%2Fc/`,
    ppath: () => `${L()}a%20b%2Fc/`,
    waitFor: () => '/a%20b%2Fc/tizen_start.php',
    portalRuns: true,
  },
  {
    name: 'a fragment becomes part of the last value',
    query: () => `?pt=${L()}frag/#top`,
    ppath: () => `${L()}frag/#top`,
    // "...frag/#toptizen_start.php": the request goes to /frag/, the rest is a fragment.
    waitFor: () => '/frag/',
    portalRuns: false,
  },
  {
    name: 'a bare "pt" without "=" has no value: the page goes to the portal URL',
    query: () => '?pt',
    ppath: () => PORTAL_URL,
    waitFor: () => `[portal] ${PORTAL_URL}tizen_start.php`,
    redirects: 1,
    portalRuns: true,
  },
];

describe('boot script', () => {
  for (const c of CASES) {
    test(c.name, async () => {
      const { navigations, state, requests } = await boot(c.query(), c.waitFor());
      const ppath = c.ppath();
      const redirects = c.redirects || 0;

      assert.equal(navigations.length, 1 + redirects, `navigations: ${navigations.join(' -> ')}`);
      if (redirects) {
        assert.equal(navigations[1], `${base}/widget/index.html?pt=${PORTAL_URL}`);
        assert.equal(requests.filter((r) => r.startsWith('/widget/index.html')).length, 2);
      }
      assert.equal(state.ppath, ppath);
      assert.equal(state.filename, 'tizen_start.php');

      // The loading box replaces body_el's content and sits at 885, 465 of the 1280x720 page.
      assert.deepEqual(state.box, {
        parent: 'body_el', className: 'loading_bar_tizen', children: 1,
        left: 885, top: 465, width: 100, height: 100,
        imgSrc: `${ppath}images/loading-gif-animation.gif`, imgClass: 'loading_img',
      });
      assert.equal(state.lastScript, `${ppath}tizen_start.php`);
      assert.equal(state.log, '');

      if (c.portalRuns) {
        // The start script ran inside the page and found the variables and elements.
        assert.deepEqual(state.portal, {
          ppath, filename: 'tizen_start.php', lp: true, log: true, src: `${ppath}tizen_start.php`,
        });
      } else {
        assert.equal(state.portal, null);
      }
      if (c.never) assert.ok(!requests.some((r) => r.startsWith(c.never)), requests.join(' '));
    });
  }
});
