// Plays the application's side of the bridge against one page of the AI service stand-in, with a
// small document model in place of a browser, and prints what happens as JSON lines:
//   {"j2n": message}        a message the page queued for the application (calls and answers)
//   {"navigate": address}   a frame or link navigation that is not a bridge signal
//   {"console": text}       the page's console output
//   {"final": {...}}        the page's title, its received list and some texts, at the end
//   {"error": text}         the harness failed (exit status 1)
//
// usage: node PageHarness.js <page address> <bridge page script> '<scenario JSON>'
// A scenario is an array of steps, run in order:
//   {"send": name, "data": value, "callback": true}  an application call, with a callback if asked
//   {"waitFor": name, "count": n}                      until the page has sent n calls of that name
//   {"click": id} | {"check": id, "value": bool} | {"file": id, "name": file name}
//   {"wait": milliseconds}
// As the application does, calls made before the page asks for the bridge wait in a start-up
// queue and are sent, in order, right after the bridge's page script is injected.
'use strict';

const fs = require('fs');
const vm = require('vm');

const [pageAddress, bridgePath, scenarioText] = process.argv.slice(2);
const deadline = Date.now() + 20000;

function out(record) {
  process.stdout.write(JSON.stringify(record) + '\n');
}

function fail(text) {
  out({ error: String(text) });
  process.exit(1);
}

// ---- a document model: just what the page script uses

class Node {
  constructor(document) {
    this.ownerDocument = document;
    this.childNodes = [];
    this.parentNode = null;
  }
  get firstChild() { return this.childNodes[0] || null; }
  appendChild(child) {
    if (child.parentNode) child.parentNode.removeChild(child);
    this.childNodes.push(child);
    child.parentNode = this;
    if (this.ownerDocument.isAttached(this)) this.ownerDocument.attached(child);
    return child;
  }
  removeChild(child) {
    const index = this.childNodes.indexOf(child);
    if (index < 0) throw new Error('not a child');
    this.childNodes.splice(index, 1);
    child.parentNode = null;
    return child;
  }
  get textContent() { return this.childNodes.map((c) => c.textContent).join(''); }
  set textContent(value) {
    this.childNodes.forEach((c) => { c.parentNode = null; });
    this.childNodes = [];
    const text = String(value === undefined || value === null ? '' : value);
    if (text !== '') this.appendChild(new TextNode(this.ownerDocument, text));
  }
}

class TextNode extends Node {
  constructor(document, text) {
    super(document);
    this.text = text;
  }
  get textContent() { return this.text; }
  set textContent(value) { this.text = String(value); }
}

class Element extends Node {
  constructor(document, tagName) {
    super(document);
    this.tagName = tagName.toUpperCase();
    this.attributes = {};
    this.style = {};
    this.listeners = {};
    this.checked = false;
    this.files = [];
  }
  get id() { return this.attributes.id || ''; }
  setAttribute(name, value) {
    this.attributes[name] = String(value);
    if (name === 'src') this.src = String(value);
  }
  getAttribute(name) { return name in this.attributes ? this.attributes[name] : null; }
  get src() { return this.attributes.src || ''; }
  set src(value) {
    this.attributes.src = String(value);
    if (this.tagName === 'IFRAME' && this.ownerDocument.isAttached(this)) this.ownerDocument.navigate(this.attributes.src);
  }
  addEventListener(type, listener) { (this.listeners[type] = this.listeners[type] || []).push(listener); }
  dispatch(type) {
    const event = { type, target: this, preventDefault() {} };
    (this.listeners[type] || []).forEach((listener) => listener(event));
  }
  click() { this.dispatch('click'); }
  focus() { this.ownerDocument.activeElement = this; }
}

class Document {
  constructor() {
    this.documentElement = new Element(this, 'html');
    this.body = new Element(this, 'body');
    this.documentElement.appendChild(this.body);
    this.title = '';
    this.activeElement = null;
    this.navigations = [];
  }
  createElement(tag) { return new Element(this, tag); }
  createTextNode(text) { return new TextNode(this, String(text)); }
  isAttached(node) {
    for (let n = node; n; n = n.parentNode) if (n === this.documentElement) return true;
    return false;
  }
  attached(node) {
    if (node.tagName === 'IFRAME' && node.attributes.src) this.navigate(node.attributes.src);
    (node.childNodes || []).forEach((child) => this.attached(child));
  }
  getElementById(id) {
    const walk = (node) => {
      if (node.id === id) return node;
      for (const child of node.childNodes || []) {
        const found = walk(child);
        if (found) return found;
      }
      return null;
    };
    return walk(this.documentElement);
  }
  // A frame's navigation reaches the application's navigation policy on a later turn.
  navigate(address) { setImmediate(() => application.decidePolicy(address)); }
}

// ---- the application's side of the bridge

const application = {
  startupQueue: [],
  sent: [],
  callbackCount: 0,
  callbacks: {},
  answered: new Set(),

  isBridgeAddress(address, host) {
    const match = /^([a-zA-Z][a-zA-Z0-9+.-]*):\/\/([^/?#]*)/.exec(address);
    if (!match) return false;
    const scheme = match[1].toLowerCase();
    return (scheme === 'https' || scheme === 'wvjbscheme') && match[2].toLowerCase() === host;
  },

  decidePolicy(address) {
    if (this.isBridgeAddress(address, '__bridge_loaded__')) {
      vm.runInContext(fs.readFileSync(bridgePath, 'utf8'), context, { filename: 'WebViewJavascriptBridge.js' });
      const queued = this.startupQueue;
      this.startupQueue = null;
      (queued || []).forEach((message) => this.dispatch(message));
    } else if (this.isBridgeAddress(address, '__wvjb_queue_message__')) {
      this.flush(vm.runInContext('WebViewJavascriptBridge._fetchQueue();', context));
    } else {
      out({ navigate: address });
    }
  },

  // The single-quoted script string the application evaluates, escaped in the application's order.
  dispatch(message) {
    const json = JSON.stringify(message)
      .replace(/\\/g, '\\\\').replace(/"/g, '\\"').replace(/'/g, "\\'")
      .replace(/\n/g, '\\n').replace(/\r/g, '\\r').replace(/\f/g, '\\f')
      .replace(/\u2028/g, '\\u2028').replace(/\u2029/g, '\\u2029');
    vm.runInContext("WebViewJavascriptBridge._handleMessageFromObjC('" + json + "');", context);
  },

  send(handlerName, data, withCallback) {
    const message = {};
    if (data !== undefined) message.data = data;
    if (withCallback) {
      this.callbackCount += 1;
      message.callbackId = 'objc_cb_' + this.callbackCount;
    }
    message.handlerName = handlerName;
    if (this.startupQueue) this.startupQueue.push(message);
    else this.dispatch(message);
  },

  flush(text) {
    if (!text) return;
    const messages = JSON.parse(text);
    for (const message of messages) {
      out({ j2n: message });
      if (message.responseId) {
        this.answered.add(message.responseId);
        continue;
      }
      this.sent.push(message);
      if (message.callbackId) {
        let answer = { code: 0 };
        if (message.handlerName === 'GetVersion') answer = { code: 0, version: 6 };
        if (message.handlerName === 'GetGuid') answer = { code: 0, guid: 'harness-guid' };
        this.dispatch({ responseId: message.callbackId, responseData: answer });
      }
    }
  },

  count(handlerName) { return this.sent.filter((m) => m.handlerName === handlerName).length; }
};

// ---- the page's world

const document = new Document();
const context = {
  document,
  console: { log: (...parts) => out({ console: parts.map((p) => (typeof p === 'string' ? p : JSON.stringify(p))).join(' ') }) },
  setTimeout, clearTimeout, setInterval, clearInterval,
  fetch: (path, options) => fetch(new URL(path, pageAddress).toString(), options),
  location: { href: pageAddress }
};
context.window = context;
vm.createContext(context);

function sleep(ms) { return new Promise((resolve) => setTimeout(resolve, ms)); }

async function until(condition, what) {
  while (!condition()) {
    if (Date.now() > deadline) fail('timed out waiting for ' + what);
    await sleep(5);
  }
}

async function main() {
  const scenario = JSON.parse(scenarioText || '[]');
  const response = await fetch(pageAddress);
  if (!response.ok) fail('the page answered ' + response.status);
  const html = await response.text();
  const scripts = [...html.matchAll(/<script([^>]*)>([\s\S]*?)<\/script>/g)];
  for (const script of scripts) {
    if (/\ssrc=/.test(script[1])) fail('the page loads a script of its own: ' + script[1]);
    vm.runInContext(script[2], context, { filename: pageAddress });
  }

  for (const step of scenario) {
    if ('send' in step) {
      application.send(step.send, step.data, !!step.callback);
    } else if ('waitFor' in step) {
      const count = step.count || 1;
      await until(() => application.count(step.waitFor) >= count, step.waitFor + ' x' + count);
    } else if ('click' in step) {
      const element = document.getElementById(step.click);
      if (!element) fail('no element ' + step.click);
      element.click();
    } else if ('check' in step) {
      const element = document.getElementById(step.check);
      if (!element) fail('no element ' + step.check);
      element.checked = !!step.value;
      element.dispatch('change');
    } else if ('file' in step) {
      const element = document.getElementById(step.file);
      if (!element) fail('no element ' + step.file);
      element.files = [{ name: step.name }];
      element.dispatch('change');
    } else if ('wait' in step) {
      await sleep(step.wait);
    } else {
      fail('unknown step ' + JSON.stringify(step));
    }
  }
  // A page may answer a call only after work of its own (a report to the service): the answers are
  // awaited, as long as the deadline allows, before the final state is taken.
  while (application.answered.size < application.callbackCount && Date.now() < deadline) await sleep(5);
  await sleep(100);

  const texts = {};
  for (const id of ['bridge-state', 'ready-state', 'login-state', 'visibility', 'question', 'answer', 'opened-file',
    'drop-hint', 'problem', 'login-progress']) {
    const element = document.getElementById(id);
    if (element) texts[id] = element.textContent;
  }
  const list = document.getElementById('received');
  out({
    final: {
      title: document.title,
      received: JSON.parse(document.getElementById('received-json').textContent),
      listIds: list ? list.childNodes.map((item) => item.id) : [],
      texts,
      focused: document.activeElement ? document.activeElement.id : null
    }
  });
}

main().then(() => process.exit(0), (error) => fail(error && error.stack ? error.stack : error));
