// The stand-in AI service's pages. One script serves every page; window.QUARN_PAGE_CONFIG says
// which page this is. The page asks the application for the bridge the documented way (the
// application injects the bridge's page script, the page never serves it), then registers the
// application-to-page handlers, shows everything it receives, and calls the page-to-application
// handlers when an AI page would. Every message in either direction is also reported to the
// service (/__api/event), so that a test can follow the traffic from outside the web view.
(function () {
  'use strict';

  var config = window.QUARN_PAGE_CONFIG || {};
  var kind = config.kind || 'chat';
  var isPanel = kind === 'explain' || kind === 'translate';
  var isTool = kind === 'picture' || kind === 'file';

  var page = {
    kind: kind,
    from: config.from || 'main',
    bridge: null,
    ready: false,
    received: [],
    sent: [],
    answers: [],
    loggedIn: null,
    user: null,
    visible: null,
    dragging: false,
    saved: config.workSaved !== false,
    openedFile: '',
    sessions: 0
  };
  // For tests and for a person at the web inspector's console.
  window.QuarnPage = page;

  var APP_TO_PAGE = [
    'RequestAuthUser', 'RequestLogout', 'SwipeWindowClose', 'SwipeOverMessage', 'WebShow',
    'CommitContinueAsk', 'SystemDragFile', 'IsSaved', 'LoginEventNotify', 'ClientUserChange',
    'CancelLogin', 'OnFileForAnalyze', 'HandleFile', 'WindowHide'
  ];
  var IMAGE_TYPES = ['png', 'jpg', 'jpeg', 'bmp', 'webp'];
  var DOCUMENT_TYPES = ['txt', 'pdf', 'doc', 'docx', 'ppt', 'pptx', 'xls', 'xlsx', 'csv'];

  // ---- the document

  function el(tag, attributes, children) {
    var node = document.createElement(tag);
    var names = Object.keys(attributes || {});
    for (var i = 0; i < names.length; i++) {
      var name = names[i];
      var value = attributes[name];
      if (name === 'text') node.textContent = value;
      else if (name === 'onclick') node.addEventListener('click', value);
      else if (name === 'onchange') node.addEventListener('change', value);
      else if (name === 'checked' || name === 'autofocus') node[name] = !!value;
      else node.setAttribute(name, value);
    }
    (children || []).forEach(function (child) { node.appendChild(child); });
    return node;
  }

  function byId(id) { return document.getElementById(id); }

  function setText(id, value) {
    var node = byId(id);
    if (node) node.textContent = value;
  }

  function button(id, label, action) {
    return el('button', { id: id, type: 'button', text: label, onclick: action });
  }

  function link(id, label, href, newWindow) {
    var attributes = { id: id, href: href, text: label };
    if (newWindow) attributes.target = '_blank';
    return el('a', attributes);
  }

  function summarize(value, depth) {
    depth = depth || 0;
    if (typeof value === 'string') {
      return value.length > 256 ? value.slice(0, 64) + '\u2026(' + value.length + ' chars)' : value;
    }
    if (value === null || value === undefined || typeof value !== 'object' || depth > 8) {
      return value === undefined ? null : value;
    }
    if (Array.isArray(value)) return value.map(function (v) { return summarize(v, depth + 1); });
    var out = {};
    Object.keys(value).forEach(function (key) { out[key] = summarize(value[key], depth + 1); });
    return out;
  }

  // ---- the service

  function request(method, path, body) {
    var options = { method: method, headers: { 'Content-Type': 'application/json' } };
    if (body !== undefined) options.body = JSON.stringify(body);
    return window.fetch(path, options).then(function (response) {
      if (!response.ok) throw new Error(method + ' ' + path + ': ' + response.status);
      return response.json();
    });
  }

  function tell(direction, handlerName, data) {
    if (!window.fetch) return;
    request('POST', '/__api/event', {
      page: kind, direction: direction, handlerName: handlerName, data: summarize(data)
    }).catch(function () {});
  }

  function showProblem(error) {
    setText('problem', String(error && error.message ? error.message : error));
  }

  // ---- the bridge

  // How a page finds the bridge: use it when the page object exists; otherwise queue the
  // callback in window.WVJBCallbacks and ask the application for the page script by loading the
  // bridge-loaded address in a hidden frame. The script calls the queued callbacks once it runs.
  function setupWebViewJavascriptBridge(callback) {
    if (window.WebViewJavascriptBridge) return callback(window.WebViewJavascriptBridge);
    if (window.WVJBCallbacks) return window.WVJBCallbacks.push(callback);
    window.WVJBCallbacks = [callback];
    var frame = document.createElement('iframe');
    frame.style.display = 'none';
    frame.src = 'https://__bridge_loaded__';
    document.documentElement.appendChild(frame);
    page.loaderFrame = frame;
  }

  function call(handlerName, data, then) {
    page.sent.push({ handlerName: handlerName, data: summarize(data) });
    tell('j2n', handlerName, data);
    setText('last-sent', handlerName);
    if (!page.bridge) return;
    page.bridge.callHandler(handlerName, data, function (answer) {
      page.answers.push({ handlerName: handlerName, answer: answer === undefined ? null : answer });
      tell('answer', handlerName, answer);
      if (then) then(answer);
    });
  }

  function receive(handlerName, data, respond) {
    var entry = { id: page.received.length + 1, handlerName: handlerName, data: summarize(data) };
    page.received.push(entry);
    showReceived(entry, data);
    tell('n2j', handlerName, data);
    if (respond) respond({ code: 0 });
    var behaviour = behaviours[handlerName];
    if (behaviour) {
      try {
        behaviour(data && typeof data === 'object' ? data : {});
      } catch (error) {
        showProblem(error);
      }
    }
  }

  function showReceived(entry, data) {
    var list = byId('received');
    if (list) {
      var item = el('li', { id: 'msg-' + entry.id, 'data-handler': entry.handlerName }, [
        el('span', { 'class': 'handler', text: '#' + entry.id + ' ' + entry.handlerName }),
        el('code', { text: ' ' + JSON.stringify(entry.data) })
      ]);
      if (entry.handlerName === 'OnFileForAnalyze' && data && typeof data.requestUrl === 'string') {
        item.appendChild(el('img', { id: 'msg-' + entry.id + '-image', src: data.requestUrl, alt: data.filePath || 'image' }));
      }
      list.appendChild(item);
    }
    setText('received-json', JSON.stringify(page.received));
    document.title = (config.title || kind) + ' [' + page.received.length + '] ' + entry.handlerName;
  }

  // ---- login state

  function showLogin(loggedIn, user) {
    page.loggedIn = loggedIn;
    if (user !== undefined) page.user = user;
    var name = page.user && page.user.userName ? page.user.userName : '';
    setText('login-state', loggedIn ? 'logged in' + (name ? ' as ' + name : '') : 'logged out');
    var body = document.body;
    if (body && body.setAttribute) body.setAttribute('data-login', loggedIn ? 'in' : 'out');
  }

  function report(state) {
    showLogin(state.state === 0, state);
    call('ReportAuthUser', state);
  }

  function logIn() {
    setText('login-progress', 'logging in\u2026');
    return request('POST', '/__api/login').then(function (state) {
      setText('login-progress', '');
      report(state);
    }).catch(showProblem);
  }

  function logOut() {
    return request('POST', '/__api/logout').then(report).catch(showProblem);
  }

  function showVisible(visible) {
    page.visible = visible;
    setText('visibility', visible ? 'visible' : 'hidden');
  }

  // ---- what the page does with each application call

  function openFile(path) {
    page.openedFile = path;
    setText('opened-file', path ? 'opened ' + path : 'no file opened');
    call('OpenFileNotify', { path: path });
  }

  function preferredPanelHeight(text) {
    var lines = Math.ceil((text || '').length / 40) + 1;
    return Math.max(240, Math.min(640, 160 + 24 * lines));
  }

  var behaviours = {
    RequestAuthUser: function () {
      request('GET', '/__api/auth').then(report).catch(showProblem);
    },
    RequestLogout: function () { logOut(); },
    LoginEventNotify: function (data) {
      if (data.type === 'loginin') showLogin(true);
      else if (data.type === 'loginout') showLogin(false, null);
    },
    ClientUserChange: function (data) {
      if (data.type === 'loginin') showLogin(true);
      else if (data.type === 'loginout') showLogin(false, null);
      if (typeof data.visible === 'boolean') showVisible(data.visible);
    },
    CancelLogin: function () { setText('login-progress', 'login cancelled'); },
    SwipeOverMessage: function (data) {
      var message = typeof data.message === 'string' ? data.message : '';
      setText('question', message);
      if (isPanel) {
        setText('answer', (kind === 'explain' ? 'Explanation of: ' : 'Translation of: ') + message);
        call('WebViewSizeNotify', { width: 400, height: preferredPanelHeight(message) });
      } else {
        setText('answer', 'You asked: ' + message);
      }
    },
    WebShow: function (data) { showVisible(data.visible === true); },
    SwipeWindowClose: function () {
      showVisible(false);
      setText('answer', '');
    },
    CommitContinueAsk: function (data) {
      setText('answer', 'Continuing the ' + (data.type || '') + ' conversation ' + (data.session_id || ''));
    },
    SystemDragFile: function (data) {
      page.dragging = data.onDrag === 1;
      setText('drop-hint', page.dragging ? 'drop the file here' : '');
    },
    IsSaved: function () { call('ClientIsSaved', { data: page.saved }); },
    OnFileForAnalyze: function (data) {
      setText('answer', 'Looking at ' + (data.filePath || 'an image') + ' (' + (data.fileSize || 0) + ' bytes)');
      examineFile(data);
    },
    HandleFile: function (data) {
      setText('answer', 'File action: ' + JSON.stringify(summarize(data)));
      if (typeof data.path === 'string' && data.path) openFile(data.path);
    },
    WindowHide: function () { showVisible(false); }
  };

  // ---- the page's own controls

  function declareTypes() {
    if (kind === 'picture') call('SetFileMediaType', { type: 'img', mediaTypes: IMAGE_TYPES });
    else if (kind === 'file') call('SetFileMediaType', { type: 'doc', mediaTypes: DOCUMENT_TYPES });
  }

  function continueAsk() {
    page.sessions += 1;
    call('ContinueAsk', { type: kind, session_id: 'session-' + kind + '-' + page.sessions });
  }

  function fileAction(type, path) {
    var data = { type: type };
    if (path) {
      data.path = path;
      data.name = path.split('/').pop();
    }
    call('FileAction', data);
  }

  function controls() {
    var sampleImage = config.sampleImage || '';
    switch (kind) {
    case 'chat':
      return [
        el('p', { 'class': 'row' }, [
          button('request-login', 'Log in', function () { call('RequestLogin'); }),
          button('log-out', 'Log out', logOut),
          button('start-capture', 'Screenshot', function () { call('StartCapture'); }),
          button('report-data', 'Report', function () {
            call('ReportData', { params: { cmd: 24100, sourcePlatform: 'linux', page: kind } });
          })
        ]),
        el('p', { 'class': 'row' }, [
          button('action-write', 'Writing', function () { fileAction('write'); }),
          button('action-picture', 'Image', function () { fileAction('picture', '/tmp/quarn-sample.png'); }),
          button('action-file', 'Document', function () { fileAction('file', '/tmp/quarn-sample.pdf'); })
        ]),
        el('p', { 'class': 'row' }, [
          link('open-image-tool', 'Image tool', '/thirdParty/dorvaka/picture?version=6&openwith=mgr_image', true),
          link('open-document-tool', 'Document tool', '/thirdParty/dorvaka/file?version=6&openwith=mgr_document', true),
          // Pages of other sites, in a new window: the application hands them to the default browser.
          link('open-outside', 'Outside page', 'https://www.example.com/outside?from=chat', true),
          link('open-outside-document', 'Outside document',
               'https://www.example.com/report?openwith=mgr_document', true),
          link('download-pdf', 'Download a PDF', '/__files/sample.pdf'),
          link('download-image', 'Save an image', sampleImage)
        ]),
        el('p', { 'class': 'row' }, [
          el('input', {
            id: 'chat-file-input', type: 'file',
            onchange: function (event) {
              var input = event && event.target ? event.target : byId('chat-file-input');
              var file = input && input.files && input.files[0];
              if (file) openFile(file.name);
            }
          })
        ]),
        el('p', { id: 'opened-file', 'class': 'hint', text: 'no file opened' }),
        el('p', { id: 'drop-hint', 'class': 'hint' })
      ];
    case 'login':
      return [
        el('p', { 'class': 'row' }, [
          el('button', { id: 'login-button', type: 'button', 'class': 'big', text: 'log in', onclick: logIn, autofocus: true })
        ]),
        el('p', { id: 'login-progress', 'class': 'hint' })
      ];
    case 'explain':
    case 'translate':
      return [el('p', { 'class': 'row' }, [button('continue-ask', 'Continue in chat', continueAsk)])];
    case 'picture':
    case 'file':
      return [
        el('p', { 'class': 'row' }, [
          el('input', {
            id: 'file-input', type: 'file',
            accept: (kind === 'picture' ? IMAGE_TYPES : DOCUMENT_TYPES).map(function (t) { return '.' + t; }).join(','),
            onclick: declareTypes,
            onchange: function (event) {
              var input = event && event.target ? event.target : byId('file-input');
              var file = input && input.files && input.files[0];
              if (file) openFile(file.name);
            }
          }),
          el('label', {}, [
            el('input', {
              id: 'saved-checkbox', type: 'checkbox', checked: page.saved,
              onchange: function (event) {
                var box = event && event.target ? event.target : byId('saved-checkbox');
                page.saved = !!box.checked;
              }
            }),
            document.createTextNode(' work saved')
          ]),
          kind === 'picture' ? link('download-image', 'Save an image', sampleImage) : link('download-pdf', 'Download a PDF', '/__files/sample.pdf')
        ]),
        el('p', { id: 'opened-file', 'class': 'hint', text: 'no file opened' })
      ];
    case 'write':
      return [el('textarea', { id: 'draft', rows: '6', placeholder: 'Write here' })];
    default:
      return [];
    }
  }

  // What a file handed over for analysis holds: its media type, the length and SHA-256 of the
  // bytes its data address carries, reported as "dom" "FileReceived".
  function examineFile(data) {
    var address = typeof data.requestUrl === 'string' ? data.requestUrl : '';
    var match = /^data:([^;,]*);base64,(.*)$/.exec(address);
    if (!match) {
      tell('dom', 'FileReceived', { filePath: data.filePath, problem: 'not a base64 data address' });
      return;
    }
    var text = window.atob(match[2]);
    var bytes = new Uint8Array(text.length);
    for (var i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
    var report = { filePath: data.filePath, fileSize: data.fileSize, type: match[1], length: bytes.length,
                   ready: page.ready };
    var subtle = window.crypto && window.crypto.subtle;
    if (!subtle) {
      report.problem = 'no digest in this context';
      tell('dom', 'FileReceived', report);
      return;
    }
    subtle.digest('SHA-256', bytes).then(function (digest) {
      report.sha256 = Array.prototype.map.call(new Uint8Array(digest), function (b) {
        return ('0' + b.toString(16)).slice(-2);
      }).join('');
      tell('dom', 'FileReceived', report);
    }).catch(showProblem);
  }

  // A file dropped on the page is the page's: it is listed, reported to the service ("dom"
  // "FileDropped" {names, sizes}) and never opened in place of the page.
  function acceptDrops() {
    if (!document.addEventListener) return;
    document.addEventListener('dragenter', function (event) { event.preventDefault(); });
    document.addEventListener('dragover', function (event) { event.preventDefault(); });
    document.addEventListener('drop', function (event) {
      event.preventDefault();
      var list = event.dataTransfer && event.dataTransfer.files ? event.dataTransfer.files : [];
      var names = [];
      var sizes = [];
      for (var i = 0; i < list.length; i++) {
        names.push(list[i].name);
        sizes.push(list[i].size);
      }
      page.dropped = names;
      setText('drop-hint', names.length ? 'dropped ' + names.join(', ') : 'nothing dropped');
      tell('dom', 'FileDropped', { names: names, sizes: sizes });
    });
  }

  function build() {
    var body = document.body;
    body.setAttribute('data-page', kind);
    body.appendChild(el('header', {}, [
      el('h1', { id: 'page-title', text: config.title || kind }),
      el('p', { 'class': 'state' }, [
        el('span', { id: 'bridge-state', text: 'waiting for the bridge' }),
        el('span', { id: 'ready-state', text: 'not ready' }),
        el('span', { id: 'login-state', text: 'login state unknown' }),
        el('span', { id: 'visibility', text: '' }),
        el('span', { id: 'last-sent', text: '' })
      ])
    ]));
    body.appendChild(el('main', {}, controls().concat([
      el('p', { id: 'question', 'class': 'question' }),
      el('p', { id: 'answer', 'class': 'answer' }),
      el('p', { id: 'problem', 'class': 'problem' })
    ])));
    body.appendChild(el('section', { id: 'traffic' }, [
      el('h2', { text: 'Received' }),
      el('ol', { id: 'received' }),
      el('pre', { id: 'received-json', text: '[]' })
    ]));
    var focused = byId('login-button');
    if (focused && focused.focus) focused.focus();
  }

  function start(bridge) {
    page.bridge = bridge;
    if (page.loaderFrame && page.loaderFrame.parentNode) page.loaderFrame.parentNode.removeChild(page.loaderFrame);
    APP_TO_PAGE.forEach(function (name) {
      bridge.registerHandler(name, function (data, respond) { receive(name, data, respond); });
    });
    setText('bridge-state', 'bridge ready');
    call('GetVersion');
    call('GetGuid');
    declareTypes();
    setTimeout(function () {
      page.ready = true;
      setText('ready-state', 'ready');
      call('WebIsReady', { from: page.from });
      if (kind === 'chat') call('ReportData', { params: { cmd: 24100, sourcePlatform: 'linux', page: kind } });
      if (kind === 'login' && typeof config.autoLoginMs === 'number' && config.autoLoginMs >= 0) {
        setTimeout(logIn, config.autoLoginMs);
      }
    }, Math.max(0, config.readyDelayMs || 0));
  }

  // Commands from the service (a test's hand on the page): click an element, go to another
  // address, set the "work saved" answer.
  function runCommand(command) {
    if (!command || typeof command !== 'object') return;
    if (typeof command.click === 'string') {
      var node = byId(command.click);
      if (node && node.click) node.click();
    }
    if (typeof command.navigate === 'string') window.location.href = command.navigate;
    if (typeof command.saved === 'boolean') {
      page.saved = command.saved;
      var box = byId('saved-checkbox');
      if (box) box.checked = command.saved;
    }
  }

  function pollCommands() {
    window.fetch('/__api/commands?page=' + encodeURIComponent(kind), { cache: 'no-store' })
      .then(function (response) { return response.ok ? response.json() : []; })
      .then(function (list) { (Array.isArray(list) ? list : []).forEach(runCommand); })
      .catch(function () {})
      .then(function () { setTimeout(pollCommands, 250); });
  }

  build();
  acceptDrops();
  setupWebViewJavascriptBridge(start);
  if (config.commands !== false) pollCommands();
})();
