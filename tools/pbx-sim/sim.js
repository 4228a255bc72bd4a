#!/usr/bin/env node
'use strict';
// Stand-in for the hosted telephone service on this machine: the web API, the
// notification server and a control interface for tests (/_sim/).
//
//   node sim.js [--config FILE] [--api-port N] [--notify-port N] [--host 127.0.0.1] [--exit-with-stdin]
//
// Prints one line {"ready":true,"apiPort":A,"notifyPort":B} when listening,
// then a line per event for people watching.
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const verify = require('./lib/verify');

const MAX_BODY_BYTES = 1024 * 1024;
const API_BEHAVIOUR_KEYS = ['delayMs', 'status', 'body', 'close'];

function parseArgs(argv) {
  const opts = {
    config: path.join(__dirname, 'demo-config.json'),
    apiPort: 0,
    notifyPort: 0,
    host: '127.0.0.1',
    exitWithStdin: false,
  };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    const next = () => {
      if (i + 1 >= argv.length) throw new Error(`${arg} needs a value`);
      return argv[++i];
    };
    if (arg === '--config') opts.config = next();
    else if (arg === '--api-port') opts.apiPort = Number(next());
    else if (arg === '--notify-port') opts.notifyPort = Number(next());
    else if (arg === '--host') opts.host = next();
    else if (arg === '--exit-with-stdin') opts.exitWithStdin = true;
    else throw new Error(`unknown argument ${arg}`);
  }
  return opts;
}

function sendJson(res, status, obj) {
  const body = Buffer.from(JSON.stringify(obj), 'utf8');
  res.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8', 'Content-Length': body.length });
  res.end(body);
}

function statusEnvelope(status) {
  const text = http.STATUS_CODES[status] || 'Fout';
  return { head: { error_message: text, error_number: String(status) }, body: {} };
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  const config = JSON.parse(fs.readFileSync(opts.config, 'utf8'));
  const routes = new Map();
  const state = { requests: [] };
  let ready = false;
  const pending = [];

  const ctx = {
    config,
    behaviour: {},
    verify,
    notifyPort: opts.notifyPort,
    host: opts.host,
    sendJson,
    addRoute(method, routePath, handler) {
      routes.set(`${method} ${routePath}`, { handler, api: true });
    },
    addControl(method, name, handler) {
      routes.set(`${method} /_sim/${name}`, { handler, api: false });
    },
    record(entry) {
      state.requests.push({ time: new Date().toISOString(), ...entry });
    },
    print(line) {
      // The ready line must be the first line on stdout.
      if (ready) process.stdout.write(`${line}\n`);
      else pending.push(line);
    },
  };

  // Test behaviours for the web-API endpoints: delay, a forced status or body,
  // or a connection dropped without an answer.
  function withBehaviour(req, res, info, handler) {
    // "endpoints" gives a script a behaviour of its own, on top of the common one.
    const b = { ...ctx.behaviour, ...((ctx.behaviour.endpoints || {})[info.url.pathname] || {}) };
    const active = API_BEHAVIOUR_KEYS.some((k) => b[k] !== undefined && b[k] !== false);
    if (active && b.once) {
      for (const key of API_BEHAVIOUR_KEYS.concat('once')) delete ctx.behaviour[key];
    }
    const act = () => {
      const entry = { endpoint: info.url.pathname, method: req.method, rawQuery: info.rawQuery, body: info.body };
      if (b.close) {
        ctx.record({ ...entry, verdict: 'dropped' });
        ctx.print(`Verbinding verbroken zonder antwoord (${info.url.pathname})`);
        req.socket.destroy();
        return;
      }
      if (b.status !== undefined || b.body !== undefined) {
        const status = b.status !== undefined ? Number(b.status) : 200;
        ctx.record({ ...entry, verdict: 'overridden', status });
        if (b.body !== undefined) {
          const text = typeof b.body === 'string' ? b.body : JSON.stringify(b.body);
          res.writeHead(status, { 'Content-Type': 'application/json; charset=utf-8' });
          res.end(text);
        } else {
          sendJson(res, status, statusEnvelope(status));
        }
        return;
      }
      handler(req, res, info);
    };
    if (Number(b.delayMs) > 0) setTimeout(act, Number(b.delayMs));
    else act();
  }

  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://localhost');
    const queryStart = req.url.indexOf('?');
    const rawQuery = queryStart < 0 ? '' : req.url.slice(queryStart + 1);
    const chunks = [];
    let size = 0;
    req.on('data', (chunk) => {
      size += chunk.length;
      if (size > MAX_BODY_BYTES) {
        sendJson(res, 413, statusEnvelope(413));
        req.destroy();
        return;
      }
      chunks.push(chunk);
    });
    req.on('end', () => {
      if (size > MAX_BODY_BYTES) return;
      const info = { url, query: url.searchParams, rawQuery, body: Buffer.concat(chunks).toString('utf8') };
      const route = routes.get(`${req.method} ${url.pathname}`);
      if (!route) {
        ctx.record({ endpoint: url.pathname, method: req.method, rawQuery, verdict: 'rejected', error_number: '404',
                     error_message: 'Onbekend script' });
        sendJson(res, 404, statusEnvelope(404));
        return;
      }
      try {
        if (route.api) withBehaviour(req, res, info, route.handler);
        else route.handler(req, res, info);
      } catch (e) {
        ctx.print(`Interne fout: ${e && e.stack ? e.stack : e}`);
        if (!res.headersSent) sendJson(res, 500, statusEnvelope(500));
      }
    });
  });

  require('./lib/control').setup(ctx, state);
  require('./lib/api').setup(ctx);
  const notify = await require('./lib/notify').setup(ctx);

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(opts.apiPort, opts.host, resolve);
  });

  const shutdown = () => process.exit(0);
  process.on('SIGTERM', shutdown);
  process.on('SIGINT', shutdown);
  if (opts.exitWithStdin) {
    // Started by a test: go when the test's end of the pipe goes.
    process.stdin.on('end', shutdown);
    process.stdin.on('error', shutdown);
    process.stdin.resume();
  }

  process.stdout.write(`${JSON.stringify({ ready: true, apiPort: server.address().port, notifyPort: (notify && notify.notifyPort) || 0 })}\n`);
  ready = true;
  for (const line of pending.splice(0)) process.stdout.write(`${line}\n`);
}

main().catch((e) => {
  process.stderr.write(`pbx-sim: ${e && e.stack ? e.stack : e}\n`);
  process.exit(1);
});
