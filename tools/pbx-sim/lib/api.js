'use strict';
// The web API: call set-up and SIP account lists through cltodlapp.php
// (click-to-dial credentials) and ouctdpl.php (address-book plug-ins).
const CALL_KEYS = ['apiID', 'knummer', 'pwd', 'sipacc', 'telnr', 'f', 'ts', 'pass'];

const ENDPOINTS = {
  '/api/cltodlapp.php': { keys: CALL_KEYS, withOptions: false },
  '/api/ouctdpl.php': { keys: ['options', ...CALL_KEYS], withOptions: true },
};

function envelope(body) {
  return { head: { error_message: '', error_number: '' }, body };
}

function headError(number, message) {
  return { head: { error_message: message, error_number: number }, body: {} };
}

function bodyError(number, message) {
  return { head: { error_message: '', error_number: '' }, body: { error_message: message, error_number: number } };
}

// Judges one request. Returns { reply, verdict, error_number, error_message, ... }.
function judge(ctx, endpoint, rawQuery) {
  const { verify, config } = ctx;
  const endpointRule = ENDPOINTS[endpoint];
  const reject = (reply, extra = {}) => {
    const part = reply.head.error_message ? reply.head : reply.body;
    return { reply, verdict: 'rejected', error_number: part.error_number, error_message: part.error_message, ...extra };
  };

  const pairs = verify.parsePairs(rawQuery);
  if (pairs === null) return reject(headError('100', 'Ongeldige codering in de parameters'));
  if (!verify.sameKeys(pairs, endpointRule.keys)) {
    return reject(headError('101', `Ongeldige parameters: verwacht ${endpointRule.keys.join(',')}, ontvangen ${pairs.map(([k]) => k).join(',')}`),
                  { params: Object.fromEntries(pairs) });
  }
  const p = Object.fromEntries(pairs);
  const extra = { params: p };

  const api = (config.apis || []).find((a) => a.apiID === p.apiID);
  if (!api) return reject(headError('102', `Onbekende apiID '${p.apiID}'`), extra);
  const apiOptions = api.options || '';
  if (endpointRule.withOptions) {
    if (!apiOptions) return reject(headError('103', `apiID '${p.apiID}' hoort bij click-to-dial, niet bij een plug-in`), extra);
    if (p.options !== apiOptions) return reject(headError('103', `options '${p.options}' past niet bij apiID '${p.apiID}'`), extra);
  } else if (apiOptions) {
    return reject(headError('103', `apiID '${p.apiID}' hoort bij plug-in '${apiOptions}'`), extra);
  }
  if (p.f !== 'json') return reject(headError('104', `Onbekend formaat '${p.f}'`), extra);
  if (!verify.timestampFresh(p.ts)) return reject(headError('105', `Tijdstempel '${p.ts}' is verlopen of ongeldig`), extra);

  const signed = pairs.filter(([k]) => k !== 'pass');
  if (!verify.signatureMatches(signed, ['options', 'filter'], api.key || '', p.pass)) {
    return reject(headError('106', 'Ongeldige handtekening'), extra);
  }

  const customer = (config.customers || []).find((c) => c.number === p.knummer);
  if (!customer || (api.customer && api.customer !== customer.number)
      || verify.apiPasswordDigest(customer.password || '') !== p.pwd) {
    return reject(headError('107', 'Authenticatie mislukt: klantnummer of wachtwoord onjuist'), extra);
  }

  const accounts = customer.sipAccounts || [];
  if (p.sipacc === '0' && p.telnr === '0') {
    const list = {};
    accounts.forEach((a, i) => {
      list[a.key !== undefined ? String(a.key) : String(i + 1)] = { logname: a.logname, SIPusername: a.SIPusername };
    });
    return { reply: list, verdict: 'ok', kind: 'list', ...extra };
  }

  const account = accounts.find((a) => a.SIPusername === p.sipacc);
  if (!account) return reject(bodyError('201', `Onbekend SIP-account '${p.sipacc}'`), extra);
  if (!/^[0-9]+$/.test(p.telnr)) return reject(bodyError('202', `Ongeldig telefoonnummer '${p.telnr}'`), extra);

  const callid = `sim-${Date.now()}-${Math.floor(Math.random() * 1e6)}`;
  return {
    reply: envelope({ status: 'ok', callid }),
    verdict: 'ok',
    kind: 'call',
    account,
    ...extra,
  };
}

function setup(ctx) {
  for (const endpoint of Object.keys(ENDPOINTS)) {
    ctx.addRoute('GET', endpoint, (req, res, { rawQuery }) => {
      const result = judge(ctx, endpoint, rawQuery);
      const { reply, account, ...entry } = result;
      ctx.record({ endpoint, method: 'GET', rawQuery, ...entry });
      if (result.verdict === 'ok' && result.kind === 'call') {
        ctx.print(`Gesprek: SIP-account ${account.SIPusername} (${account.logname}) gaat over, `
                  + `daarna wordt ${result.params.telnr} gebeld`);
      } else if (result.verdict === 'ok') {
        ctx.print(`SIP-accounts opgevraagd door klant ${result.params.knummer}`);
      } else {
        ctx.print(`Geweigerd (${endpoint}): ${result.error_number} ${result.error_message}`);
      }
      ctx.sendJson(res, 200, reply);
    });
  }
}

module.exports = { setup, judge, ENDPOINTS };
