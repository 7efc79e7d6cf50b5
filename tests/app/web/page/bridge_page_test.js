// Runs the bridge page script in a small fake window and document, and exchanges messages with
// the real engine (the driver program) in both directions.
//   node bridge_page_test.js <page script> <driver>
'use strict';

const assert = require('assert');
const fs = require('fs');
const vm = require('vm');
const { execFileSync } = require('child_process');

const [scriptPath, driverPath] = process.argv.slice(2);
const pageScript = fs.readFileSync(scriptPath, 'utf8');
const QUEUE_ADDRESS = 'wvjbscheme://__wvjb_queue_message__';

function makePage() {
    const page = { frames: [], consoleLines: [], signals: [], timers: [] };
    const documentElement = {
        children: [],
        appendChild(node) { this.children.push(node); },
    };
    const document = {
        documentElement,
        createElement(tag) {
            const frame = { tag, style: {} };
            let src = '';
            Object.defineProperty(frame, 'src', {
                get() { return src; },
                set(value) { src = value; page.signals.push(value); },
            });
            page.frames.push(frame);
            return frame;
        },
    };
    const sandbox = {
        document,
        console: { log: (...args) => page.consoleLines.push(args.map(a => typeof a === 'string' ? a : JSON.stringify(a)).join(' ')) },
        setTimeout: (fn, delay) => { page.timers.push({ fn, delay: delay || 0 }); },
        Date,
        JSON,
        Object,
    };
    sandbox.window = sandbox;
    page.context = vm.createContext(sandbox);
    page.run = (code) => vm.runInContext(code, page.context);
    // Runs the zero-delay timers, including those they add.
    page.tick = () => {
        while (page.timers.length) page.timers.shift().fn();
    };
    page.window = sandbox;
    return page;
}

function driver(mode, input) {
    const out = execFileSync(driverPath, [mode], { input, encoding: 'utf8' });
    return out.split('\n').filter(line => line.length > 0);
}

const specials = ['\\', '"', "'", '\n', '\r', '\f', '\u2028', '\u2029', '/', '</script>', "');x=('", '\u4e2d\u6587', '\ud83d\ude00', '\t\b'];
const everything = specials.join('|');

// --- Injection and page state -------------------------------------------------------------
const page = makePage();
page.window.WVJBCallbacks = [bridge => { page.wvjbCallbackGot = bridge; }];
page.run(pageScript);
const bridge = page.window.WebViewJavascriptBridge;
assert.strictEqual(typeof bridge, 'object');
assert.strictEqual(page.run("typeof WebViewJavascriptBridge == 'object';"), true);
for (const name of ['registerHandler', 'callHandler', 'disableJavscriptAlertBoxSafetyTimeout', '_fetchQueue', '_handleMessageFromObjC']) {
    assert.strictEqual(typeof bridge[name], 'function', name);
}
assert.strictEqual(typeof page.window.onerror, 'function', 'an error handler is installed');
page.window.onerror('boom', 'https://x/y.js', 7);
assert.ok(page.consoleLines.includes('WebViewJavascriptBridge: ERROR:boom@https://x/y.js:7'), page.consoleLines.join('\n'));
assert.strictEqual(page.frames.length, 1);
assert.strictEqual(page.frames[0].style.display, 'none');
assert.strictEqual(page.frames[0].src, QUEUE_ADDRESS);
assert.deepStrictEqual(page.run('document.documentElement.children.length'), 1);
assert.strictEqual(page.wvjbCallbackGot, undefined, 'WVJBCallbacks run on a later turn');
page.tick();
assert.strictEqual(page.wvjbCallbackGot, bridge);
assert.strictEqual(page.window.WVJBCallbacks, undefined);
assert.strictEqual(bridge._fetchQueue(), '[]');

// A second injection changes nothing.
page.run(pageScript);
assert.strictEqual(page.window.WebViewJavascriptBridge, bridge);
assert.strictEqual(page.frames.length, 1);

// --- Application to page: the engine's scripts, exactly as it escapes them ----------------
const received = [];
bridge.registerHandler('Echo', (data, answer) => { received.push({ data, answer }); });
const payloads = [
    ...specials.map(s => ({ text: s })),
    { text: everything, [everything]: 'key', list: [everything, 1, true, 2.5], nested: { deeper: [{ s: everything }] } },
    'plain string',
    12345,
];
const sendScripts = driver('send', JSON.stringify(payloads.map((data, i) => ({ handlerName: 'Echo', data, callback: i === 0 }))));
assert.strictEqual(sendScripts.length, payloads.length);
for (const script of sendScripts) {
    assert.ok(script.startsWith("WebViewJavascriptBridge._handleMessageFromObjC('"), script);
    page.run(script);
}
assert.strictEqual(received.length, 0, 'dispatch waits for a zero-delay timer at first');
page.tick();
assert.strictEqual(received.length, payloads.length);
received.forEach((got, i) => assert.deepStrictEqual(got.data, payloads[i]));
assert.strictEqual(typeof received[0].answer, 'function', 'a message with a callback id gets an answer function');
assert.strictEqual(received[1].answer, undefined);

// The page answers the first one: the answer names the handler and the application's id.
page.signals.length = 0;
received[0].answer({ back: everything });
assert.deepStrictEqual(page.signals, [QUEUE_ADDRESS]);
let queue = JSON.parse(bridge._fetchQueue());
assert.deepStrictEqual(queue, [{ handlerName: 'Echo', responseId: 'objc_cb_1', responseData: { back: everything } }]);

// A message for a handler the page does not have is logged.
page.consoleLines.length = 0;
for (const script of driver('send', JSON.stringify([{ handlerName: 'Missing', data: 1 }]))) page.run(script);
page.tick();
assert.ok(page.consoleLines.some(l => l.startsWith('WebViewJavascriptBridge: WARNING: no handler for message from ObjC:')), page.consoleLines.join('\n'));

// --- Page to application and back -----------------------------------------------------------
const answers = [];
bridge.callHandler('NativeEcho', { text: everything }, reply => answers.push(['echo', reply]));
bridge.callHandler('NativeEcho', reply => answers.push(['two-argument form', reply]));
bridge.callHandler('NativeSilent', { x: 1 }, reply => answers.push(['silent', reply]));
bridge.callHandler('NoCallback', { y: 2 });
const fetched = bridge._fetchQueue();
queue = JSON.parse(fetched);
assert.strictEqual(queue.length, 4);
assert.match(queue[0].callbackId, /^cb_1_\d+$/);
assert.match(queue[1].callbackId, /^cb_2_\d+$/);
assert.strictEqual(queue[1].data, null, 'the two-argument form sends null data');
assert.strictEqual(queue[3].callbackId, undefined);
assert.strictEqual(bridge._fetchQueue(), '[]', 'fetching empties the queue');

const answerScripts = driver('flush', fetched);
assert.strictEqual(answerScripts.length, 3);
bridge.disableJavscriptAlertBoxSafetyTimeout();
for (const script of answerScripts) page.run(script);
assert.deepStrictEqual(answers, [
    ['echo', { echo: { text: everything } }],
    ['two-argument form', { echo: null }],
    ['silent', null],
], 'after disabling the safety timeout, answers arrive at once');

// An answer for an unknown id changes nothing; a known one is used once.
page.run("WebViewJavascriptBridge._handleMessageFromObjC('{\"responseId\":\"cb_99_1\",\"responseData\":1}');");
page.run("WebViewJavascriptBridge._handleMessageFromObjC('{\"responseId\":\"constructor\",\"responseData\":1}');");
assert.strictEqual(answers.length, 3);

// A page handler answering with nothing sends an answer without "responseData".
bridge.registerHandler('Quiet', (data, answer) => answer());
for (const script of driver('send', JSON.stringify([{ handlerName: 'Quiet', data: 1, callback: true }]))) page.run(script);
queue = JSON.parse(bridge._fetchQueue());
assert.strictEqual(queue.length, 1);
assert.deepStrictEqual(Object.keys(queue[0]).sort(), ['handlerName', 'responseId']);

// Registering again replaces the handler.
const replaced = [];
bridge.registerHandler('Quiet', data => replaced.push(data));
for (const script of driver('send', JSON.stringify([{ handlerName: 'Quiet', data: 'x' }]))) page.run(script);
assert.deepStrictEqual(replaced, ['x']);

// The application can switch the safety timeout off with a message.
const fresh = makePage();
fresh.run(pageScript);
fresh.tick();
const got = [];
fresh.window.WebViewJavascriptBridge.registerHandler('Echo', data => got.push(data));
fresh.run(driver('send', '[{"handlerName":"_disableJavascriptAlertBoxSafetyTimeout"}]')[0]);
fresh.tick();
fresh.run(driver('send', '[{"handlerName":"Echo","data":"a"}]')[0]);
assert.deepStrictEqual(got, ['a'], 'dispatched at once once switched off');

console.log('bridge page script: all checks passed');
