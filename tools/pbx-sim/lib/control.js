'use strict';
// The /_sim/ control interface through which tests inspect and steer the simulator.
function readJson(body) {
  if (!body) return {};
  try {
    const value = JSON.parse(body);
    return value && typeof value === 'object' && !Array.isArray(value) ? value : null;
  } catch (e) {
    return null;
  }
}

function setup(ctx, state) {
  ctx.addControl('GET', 'requests', (req, res) => ctx.sendJson(res, 200, state.requests));

  ctx.addControl('POST', 'reset', (req, res) => {
    state.requests.length = 0;
    for (const key of Object.keys(ctx.behaviour)) delete ctx.behaviour[key];
    ctx.sendJson(res, 200, { ok: true });
  });

  ctx.addControl('GET', 'behaviour', (req, res) => ctx.sendJson(res, 200, ctx.behaviour));

  // Replaces the behaviour of the web-API endpoints ({} = normal). The object
  // itself is shared with the notification side, so it is changed in place.
  ctx.addControl('POST', 'behaviour', (req, res, { body }) => {
    const wanted = readJson(body);
    if (wanted === null) {
      ctx.sendJson(res, 400, { ok: false, error: 'body must be a JSON object' });
      return;
    }
    for (const key of Object.keys(ctx.behaviour)) delete ctx.behaviour[key];
    Object.assign(ctx.behaviour, wanted);
    ctx.sendJson(res, 200, { ok: true, behaviour: ctx.behaviour });
  });
}

module.exports = { setup, readJson };
