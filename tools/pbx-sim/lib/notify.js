'use strict';
// Placeholder until the notification server is written: no routes, no port.
async function setup(ctx) {
  return { notifyPort: 0 };
}

module.exports = { setup };
