// Uploads the chosen or dropped PDFs one request each, then follows every
// verification until its report is ready.  The report itself is HTML from the server.
(function () {
  'use strict';
  var POLL_MS = 100;

  function card(name) {
    var section = document.createElement('section');
    section.className = 'verificacao';
    var title = document.createElement('h2');
    title.className = 'arquivo';
    title.textContent = name;
    var state = document.createElement('p');
    state.className = 'estado';
    state.textContent = 'Enviando…';
    section.appendChild(title);
    section.appendChild(state);
    document.getElementById('verificacoes').prepend(section);
    return section;
  }

  function follow(section, id) {
    section.dataset.id = id;
    fetch('/verificacoes/' + encodeURIComponent(id) + '/fragmento', {credentials: 'same-origin'})
      .then(function (r) {
        if (!r.ok) { throw new Error('HTTP ' + r.status); }
        return r.text().then(function (html) { return {html: html, done: r.headers.get('X-Quillon-Concluido') === '1'}; });
      })
      .then(function (got) {
        section.innerHTML = got.html;
        section.dataset.ativa = got.done ? 'false' : 'true';
        if (!got.done) { setTimeout(function () { follow(section, id); }, POLL_MS); }
      })
      .catch(function () { setTimeout(function () { follow(section, id); }, POLL_MS * 10); });
  }

  function failed(section, message) {
    var state = section.querySelector('.estado');
    if (state) { state.remove(); }
    var banner = document.createElement('div');
    banner.className = 'banner erro';
    banner.setAttribute('role', 'alert');
    banner.textContent = 'Erro: ' + message;
    section.appendChild(banner);
  }

  function send(file) {
    var section = card(file.name);
    var form = document.getElementById('envio');
    // Said here rather than sent: the server would cut a larger upload off mid-way.
    if (file.size > Number(form.dataset.maxBytes)) {
      failed(section, 'arquivo maior que o limite de ' + form.dataset.maxMb + ' MB');
      return;
    }
    var body = new FormData();
    body.append('arquivo', file, file.name);
    fetch('/api/verificacoes', {method: 'POST', body: body, credentials: 'same-origin'})
      .then(function (r) {
        return r.json().then(function (data) {
          if (r.status !== 202) { throw new Error(data.detail || ('HTTP ' + r.status)); }
          follow(section, data.id);
        });
      })
      .catch(function (err) { failed(section, err.message); });
  }

  var input = document.getElementById('arquivos');
  if (input) {
    input.addEventListener('change', function () {
      Array.prototype.forEach.call(input.files, send);
      input.value = '';
    });
    var zone = document.getElementById('soltar');
    ['dragenter', 'dragover'].forEach(function (t) {
      zone.addEventListener(t, function (e) { e.preventDefault(); zone.classList.add('sobre'); });
    });
    ['dragleave', 'drop'].forEach(function (t) {
      zone.addEventListener(t, function (e) { e.preventDefault(); zone.classList.remove('sobre'); });
    });
    zone.addEventListener('drop', function (e) { Array.prototype.forEach.call(e.dataTransfer.files, send); });
  }
  // A report page opened while its verification runs follows it too.
  document.querySelectorAll('section.verificacao[data-ativa="true"]').forEach(function (s) {
    follow(s, s.dataset.id);
  });
})();
