'use strict';
// The notification side of the service: the registration script
// krpopnotify.php on the API server, and a Socket.IO server (Engine.IO 3
// clients allowed) on the notification port that greets with "serveroutput",
// accepts "register" only with a key it issued, and pushes "notify" events.
//
// Test controls (on the API port, /_sim/...):
//   POST notify                 push a "notify" event (body = its data) to every registered client
//   POST notify-close           send the Socket.IO disconnect "41" ({"transport":true}: then close too)
//   POST notify-drop            cut every connection abruptly ({"next":N}: also the next N attempts)
//   POST notify-silent          stop answering pings and sending anything ({"silent":false} undoes it)
//   POST notify-refuse-register refuse the next "register" ({"count":N})
//   POST notify-reset           forget connections, registrations and counters
//   GET  notify-state           what the server has seen
//   GET  wanip.html, wanip.txt  a what-is-my-address service in both forms, for the demo (?say=: that text)
const crypto = require('node:crypto');
const http = require('node:http');
const { Server } = require('socket.io');
const { readJson } = require('./control');

const SCRIPT = '/api/krpopnotify.php';
const BODY_KEYS = ['appID', 'action', 'item', 'data', 'options', 'f', 'ts', 'hash'];
const APP_ID = /^Xv9bQ2[0-9]{12}$/;

function headError(number, message) {
  return { head: { error_message: message, error_number: number }, body: {} };
}

function count(value, fallback) {
  const n = Number(value);
  return Number.isInteger(n) && n >= 0 ? n : fallback;
}

// Judges one registration: the form body's fields and their order, the
// application id, the time stamp, the login and its password digest, and the
// hash over all nine signed pairs (the login and digest are signed but not
// sent: the service knows them from its own configuration).
function judgeRegistration(ctx, body) {
  const { verify, config } = ctx;
  const reject = (number, message, extra = {}) => ({
    reply: headError(number, message), verdict: 'rejected', error_number: number, error_message: message, ...extra,
  });

  const pairs = verify.parsePairs(body);
  if (pairs === null) return reject('100', 'Ongeldige codering in de parameters');
  if (!verify.sameKeys(pairs, BODY_KEYS)) {
    return reject('101', `Ongeldige parameters: verwacht ${BODY_KEYS.join(',')}, ontvangen ${pairs.map(([k]) => k).join(',')}`,
                  { params: Object.fromEntries(pairs) });
  }
  const p = Object.fromEntries(pairs);
  const extra = { params: p };
  if (p.action !== 'login') return reject('107', `Onbekende actie '${p.action}'`, extra);
  if (p.f !== 'json') return reject('104', `Onbekend formaat '${p.f}'`, extra);
  if (!APP_ID.test(p.appID)) return reject('108', `Ongeldige appID '${p.appID}'`, extra);
  if (!verify.timestampFresh(p.ts)) return reject('105', `Tijdstempel '${p.ts}' is verlopen of ongeldig`, extra);

  const login = (config.notificationLogins || []).find((l) => l.username === p.item);
  if (!login) return reject('110', `Onbekende notificatie login '${p.item}'`, extra);
  const digest = verify.plainPasswordDigest(login.password || '');
  if (p.data !== digest) return reject('111', 'Ongeldig wachtwoord', extra);

  const signed = [
    ['appID', p.appID], ['appLogin', login.username], ['appPasswd', digest], ['action', p.action],
    ['item', p.item], ['data', p.data], ['options', p.options], ['f', p.f], ['ts', p.ts],
  ];
  if (!verify.signatureMatches(signed, [], p.appID, p.hash)) return reject('106', 'Ongeldige hash', extra);

  const wskey = crypto.randomBytes(16).toString('hex');
  return { reply: { wskey, username: login.username }, verdict: 'ok', params: p, wskey, username: login.username };
}

async function setup(ctx) {
  const { config } = ctx;
  const state = {
    issued: new Map(), // wskey -> username
    clients: new Map(), // socket id -> client info
    totalConnections: 0,
    pings: 0,
    dropNext: 0,
    dropped: 0,
    refuseRegister: 0,
    registers: [],
    pushed: 0,
  };

  ctx.addRoute('POST', SCRIPT, (req, res, { body }) => {
    const result = judgeRegistration(ctx, body);
    const { reply, ...entry } = result;
    ctx.record({ endpoint: SCRIPT, method: 'POST', body, ...entry });
    if (result.verdict === 'ok') {
      state.issued.set(result.wskey, result.username);
      ctx.print(`Notificatie login '${result.username}' geregistreerd vanaf '${result.params.options}'`);
    } else {
      ctx.print(`Registratie geweigerd: ${result.error_number} ${result.error_message}`);
    }
    ctx.sendJson(res, 200, reply);
  });

  const httpServer = http.createServer((req, res) => {
    res.writeHead(404);
    res.end();
  });
  // Abrupt drops of new connection attempts: the TCP connection goes before
  // the WebSocket handshake can be answered.
  httpServer.on('connection', (socket) => {
    if (state.dropNext > 0) {
      state.dropNext -= 1;
      state.dropped += 1;
      socket.destroy();
    }
  });

  const io = new Server(httpServer, {
    path: '/socket.io/',
    allowEIO3: true,
    serveClient: false,
    transports: ['websocket'],
    pingInterval: count(config.notifyPingIntervalMs, 25000) || 25000,
    pingTimeout: count(config.notifyPingTimeoutMs, 20000) || 20000,
  });

  const registered = () => [...io.sockets.sockets.values()].filter((s) => state.clients.get(s.id)?.registered);

  io.on('connection', (socket) => {
    state.totalConnections += 1;
    const info = {
      id: socket.id,
      url: socket.request.url,
      query: { ...socket.handshake.query },
      protocol: socket.conn.protocol,
      registered: false,
      username: null,
      pings: 0,
      silent: false,
    };
    state.clients.set(socket.id, info);
    socket.conn.on('packet', (packet) => {
      if (packet.type === 'ping') {
        info.pings += 1;
        state.pings += 1;
      }
    });
    socket.on('register', (data) => {
      const wskey = data && typeof data.wskey === 'string' ? data.wskey : '';
      const username = data && typeof data.username === 'string' ? data.username : '';
      let verdict = 'ok';
      if (state.refuseRegister > 0) {
        state.refuseRegister -= 1;
        verdict = 'refused';
      } else if (!state.issued.has(wskey) || state.issued.get(wskey) !== username) {
        verdict = 'rejected';
      }
      state.registers.push({ id: socket.id, username, wskey, verdict });
      if (verdict !== 'ok') {
        ctx.print(`Websocket registratie ${verdict === 'refused' ? 'geweigerd' : 'met onbekende sleutel'} ('${username}')`);
        socket.emit('registererror', { error_message: 'Registratie geweigerd' });
        socket.disconnect(true);
        return;
      }
      info.registered = true;
      info.username = username;
      ctx.print(`Websocket client '${username}' aangemeld`);
    });
    socket.on('disconnect', () => {
      state.clients.delete(socket.id);
    });
    socket.emit('serveroutput', { message: 'Verbonden met de notificatie server' });
  });

  const push = (data) => {
    const targets = registered();
    for (const socket of targets) socket.emit('notify', data);
    state.pushed += targets.length;
    return targets.length;
  };

  const controlWithBody = (name, handler) => {
    ctx.addControl('POST', name, (req, res, { body }) => {
      const wanted = readJson(body);
      if (wanted === null) {
        ctx.sendJson(res, 400, { ok: false, error: 'body must be a JSON object' });
        return;
      }
      ctx.sendJson(res, 200, { ok: true, ...handler(wanted) });
    });
  };

  controlWithBody('notify', (data) => {
    const delivered = push(data);
    ctx.print(`Inkomende oproep gemeld aan ${delivered} client(s)`);
    return { delivered };
  });

  controlWithBody('notify-close', (wanted) => {
    const sockets = [...io.sockets.sockets.values()];
    for (const socket of sockets) {
      if (wanted.transport) socket.disconnect(true);
      else socket.conn.write('1'); // Engine.IO message "4" + Socket.IO disconnect "1"
    }
    return { closed: sockets.length };
  });

  controlWithBody('notify-drop', (wanted) => {
    const sockets = [...io.sockets.sockets.values()];
    for (const socket of sockets) {
      const ws = socket.conn.transport && socket.conn.transport.socket;
      if (ws && typeof ws.terminate === 'function') ws.terminate();
      else socket.conn.request.socket.destroy();
    }
    state.dropNext = count(wanted.next, 0);
    return { dropped: sockets.length, dropNext: state.dropNext };
  });

  controlWithBody('notify-silent', (wanted) => {
    const silent = wanted.silent !== false;
    const sockets = [...io.sockets.sockets.values()];
    for (const socket of sockets) {
      const info = state.clients.get(socket.id);
      if (silent) socket.conn.sendPacket = () => {}; // no pongs, no events: a dead line
      else delete socket.conn.sendPacket;
      if (info) info.silent = silent;
    }
    return { silent, sockets: sockets.length };
  });

  controlWithBody('notify-refuse-register', (wanted) => {
    state.refuseRegister = count(wanted.count, 1);
    return { refuseRegister: state.refuseRegister };
  });

  controlWithBody('notify-reset', () => {
    state.totalConnections = 0;
    state.pings = 0;
    state.dropNext = 0;
    state.dropped = 0;
    state.refuseRegister = 0;
    state.registers.length = 0;
    state.pushed = 0;
    for (const info of state.clients.values()) info.pings = 0;
    return {};
  });

  ctx.addControl('GET', 'notify-state', (req, res) => {
    ctx.sendJson(res, 200, {
      connections: io.sockets.sockets.size,
      totalConnections: state.totalConnections,
      registered: registered().length,
      pings: state.pings,
      dropped: state.dropped,
      dropNext: state.dropNext,
      pushed: state.pushed,
      registers: state.registers,
      clients: [...state.clients.values()],
      issuedKeys: [...state.issued.keys()],
    });
  });

  // What-is-my-address answers for the demo: the caller's own address, or (for tests) what ?say= gives, as is.
  const callerAddress = (req) => String(req.socket.remoteAddress || '').replace(/^::ffff:/, '');
  ctx.addControl('GET', 'wanip.html', (req, res, info) => {
    res.writeHead(200, { 'Content-Type': 'text/html' });
    const address = info.query.get('say') ?? callerAddress(req);
    res.end(`<html><head><title>Current IP Check</title></head><body>Current IP Address: ${address}</body></html>\r\n`);
  });
  ctx.addControl('GET', 'wanip.txt', (req, res, info) => {
    res.writeHead(200, { 'Content-Type': 'text/plain' });
    res.end(info.query.get('say') ?? `${callerAddress(req)}\n`);
  });

  const every = Number(config.incomingCallEverySeconds);
  if (every > 0) {
    let callId = 0;
    const timer = setInterval(() => {
      callId += 1;
      const delivered = push({ callerID: '0201234567', did: '201', contact: 'Jansen', callid: String(callId),
                               queue: 'Verkoop' });
      if (delivered > 0) ctx.print(`Demo: inkomende oproep ${callId} gemeld aan ${delivered} client(s)`);
    }, every * 1000);
    timer.unref();
  }

  await new Promise((resolve, reject) => {
    httpServer.once('error', reject);
    httpServer.listen(ctx.notifyPort || 0, ctx.host, resolve);
  });
  return { notifyPort: httpServer.address().port };
}

module.exports = { setup, judgeRegistration };
