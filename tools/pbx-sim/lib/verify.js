'use strict';
// Checks the service applies to every web-API request, written independently
// of the desktop client: parsing of the raw query, password digests, request
// signatures and the age of "ts".
const crypto = require('node:crypto');

const MAX_AGE_SECONDS = 300;

// Text to bytes as the service expects it: one byte per character, anything
// outside Latin-1 becomes "?".
function latin1(text) {
  const bytes = Buffer.alloc(text.length);
  for (let i = 0; i < text.length; i++) {
    const code = text.charCodeAt(i);
    bytes[i] = code <= 0xff ? code : 0x3f;
  }
  return bytes;
}

function md5Hex(bytes) {
  return crypto.createHash('md5').update(bytes).digest('hex');
}

function sha256Hex(bytes) {
  return crypto.createHash('sha256').update(bytes).digest('hex');
}

function hmacSha256Hex(key, text) {
  return crypto.createHmac('sha256', latin1(key)).update(latin1(text)).digest('hex');
}

// Digest carried in "pwd" of the web API: sha256 over the hex MD5 of the password.
function apiPasswordDigest(password) {
  return sha256Hex(Buffer.from(md5Hex(latin1(password)), 'ascii'));
}

// Digest carried in the notification registration: sha256 of the password.
function plainPasswordDigest(password) {
  return sha256Hex(latin1(password));
}

// Decodes one query or form component the way a PHP service does ("+" is a
// blank, %XX is UTF-8). Returns null for a malformed escape.
function decodeComponent(text) {
  try {
    return decodeURIComponent(text.replace(/\+/g, ' '));
  } catch (e) {
    return null;
  }
}

// The ordered [key, value] pairs of a raw query or form body; null when an
// escape is malformed.
function parsePairs(raw) {
  const pairs = [];
  if (!raw) return pairs;
  for (const part of raw.split('&')) {
    const eq = part.indexOf('=');
    const key = decodeComponent(eq < 0 ? part : part.slice(0, eq));
    const value = eq < 0 ? '' : decodeComponent(part.slice(eq + 1));
    if (key === null || value === null) return null;
    pairs.push([key, value]);
  }
  return pairs;
}

// The text a request signs: keys and values concatenated in order, without
// the excluded keys.
function signingText(pairs, excluded) {
  return pairs.filter(([k]) => !excluded.includes(k)).map(([k, v]) => k + v).join('');
}

function signatureMatches(pairs, excluded, key, signature) {
  const expected = hmacSha256Hex(key, signingText(pairs, excluded));
  return typeof signature === 'string' && signature === expected;
}

// Whether "ts" is a decimal number of seconds within MAX_AGE_SECONDS of now.
function timestampFresh(ts, nowSeconds = Math.floor(Date.now() / 1000)) {
  if (!/^[0-9]+$/.test(ts || '')) return false;
  return Math.abs(nowSeconds - Number(ts)) <= MAX_AGE_SECONDS;
}

function sameKeys(pairs, expected) {
  return pairs.length === expected.length && pairs.every(([k], i) => k === expected[i]);
}

module.exports = {
  MAX_AGE_SECONDS,
  latin1,
  md5Hex,
  sha256Hex,
  hmacSha256Hex,
  apiPasswordDigest,
  plainPasswordDigest,
  decodeComponent,
  parsePairs,
  signingText,
  signatureMatches,
  timestampFresh,
  sameKeys,
};
