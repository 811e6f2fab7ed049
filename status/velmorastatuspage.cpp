#include "velmorastatuspage.h"

#include "velmoradevicestatetext.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The script reads its texts from this object, so the translated strings
// reach it as JSON and never as markup or code.
QByteArray textsJson(bool actionsAllowed)
{
    QJsonObject texts;
    texts.insert(QStringLiteral("events"), VelmoraStatusPage::tr("Events held for the monitoring software and set aside"));
    texts.insert(QStringLiteral("devices"), VelmoraStatusPage::tr("Devices"));
    texts.insert(QStringLiteral("line"), VelmoraStatusPage::tr("Line"));
    texts.insert(QStringLiteral("state"), VelmoraStatusPage::tr("State"));
    texts.insert(QStringLiteral("attempts"), VelmoraStatusPage::tr("Attempts"));
    texts.insert(QStringLiteral("received"), VelmoraStatusPage::tr("Received"));
    texts.insert(QStringLiteral("address"), VelmoraStatusPage::tr("Address"));
    texts.insert(QStringLiteral("device"), VelmoraStatusPage::tr("Device"));
    texts.insert(QStringLiteral("connected"), VelmoraStatusPage::tr("Connected"));
    texts.insert(QStringLiteral("lastFrame"), VelmoraStatusPage::tr("Last frame"));
    texts.insert(QStringLiteral("description"), VelmoraStatusPage::tr("Description"));
    texts.insert(QStringLiteral("period"), VelmoraStatusPage::tr("Supervision (s)"));
    texts.insert(QStringLiteral("notSupervised"), VelmoraDeviceStateText::notSupervised());
    texts.insert(QStringLiteral("admit"), VelmoraStatusPage::tr("Admit"));
    // The Devices window's words for a device's state, by the names the
    // status carries.
    QJsonObject states;
    for (int shown = 0; shown < VelmoraDeviceStateText::kShownCount; ++shown) {
        const auto which = VelmoraDeviceStateText::Shown(shown);
        states.insert(QLatin1String(VelmoraDeviceStateText::name(which)), VelmoraDeviceStateText::pattern(which));
    }
    texts.insert(QStringLiteral("deviceStates"), states);
    texts.insert(QStringLiteral("none"), VelmoraStatusPage::tr("None"));
    texts.insert(QStringLiteral("waiting"), VelmoraStatusPage::tr("Waiting"));
    texts.insert(QStringLiteral("refused"), VelmoraStatusPage::tr("Refused"));
    texts.insert(QStringLiteral("setAside"), VelmoraStatusPage::tr("Set aside"));
    texts.insert(QStringLiteral("sendAgain"), VelmoraStatusPage::tr("Send again"));
    texts.insert(QStringLiteral("release"), VelmoraStatusPage::tr("Release"));
    texts.insert(QStringLiteral("password"), VelmoraStatusPage::tr("Password"));
    texts.insert(QStringLiteral("wrongPassword"), VelmoraStatusPage::tr("Wrong password; nothing was done."));
    texts.insert(QStringLiteral("done"), VelmoraStatusPage::tr("Done."));
    texts.insert(QStringLiteral("unreachable"), VelmoraStatusPage::tr("Lumari does not answer."));
    texts.insert(QStringLiteral("actions"), actionsAllowed);
    return QJsonDocument(texts).toJson(QJsonDocument::Compact);
}

const char kHead[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<title>Lumari</title>
<style>
body{font-family:sans-serif;margin:1em;color:#222}
#bar{background:#eee;padding:.5em;border-radius:4px}
#bar span{margin-right:2em}
table{border-collapse:collapse;margin:.5em 0 1.5em}
td,th{border:1px solid #ccc;padding:.2em .6em;text-align:left;font-size:90%}
.setAside{background:#fdd}.refused{background:#ffe6c0}
.absent{background:#fdd}.refusedNotListed,.refusedMacDiffers{background:#ffe6c0}
#message{color:#a00}
</style></head><body>
<h1>Lumari</h1>
<div id="bar"><span id="connections"></span><span id="held"></span><span id="line"></span><span id="deviceTrouble"></span><span id="standby"></span></div>
<p id="message"></p>
<h2 id="eventsTitle"></h2><div id="auth"></div><table id="events"></table>
<h2 id="devicesTitle"></h2><table id="devices"></table>
<script>
const T = )";

const char kTail[] = R"(;
function cell(row, text, header) {
  const c = document.createElement(header ? 'th' : 'td');
  c.textContent = text === undefined || text === null ? '' : String(text);
  row.appendChild(c);
  return c;
}
function fill(table, headers, rows, make) {
  table.textContent = '';
  const head = table.insertRow();
  headers.forEach(h => cell(head, h, true));
  if (rows.length === 0) { cell(table.insertRow(), T.none).colSpan = headers.length; return; }
  rows.forEach(r => make(table.insertRow(), r));
}
function act(action, key, device) {
  fetch('/action', {method: 'POST', headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({action: action, key: key, device: device,
                          password: document.getElementById('password').value})})
    .then(r => { document.getElementById('message').textContent = r.ok ? T.done : T.wrongPassword; refresh(); })
    .catch(() => { document.getElementById('message').textContent = T.unreachable; });
}
function when(ms, offsetSeconds) {
  if (!ms) return '';
  const d = new Date(ms + offsetSeconds * 1000);
  const p = n => String(n).padStart(2, '0');
  return p(d.getUTCDate()) + '.' + p(d.getUTCMonth() + 1) + '.' + d.getUTCFullYear() + ' ' +
    p(d.getUTCHours()) + ':' + p(d.getUTCMinutes()) + ':' + p(d.getUTCSeconds());
}
function stateText(d, offsetSeconds) {
  const pattern = T.deviceStates[d.state] || '';
  if (d.state === 'heard') return pattern.replace('%1', d.heardSecondsAgo);
  if (d.state === 'absent') return pattern.replace('%1', when(d.absentSince, offsetSeconds).slice(11, 16));
  return pattern;
}
function refresh() {
  fetch('/status.json', {cache: 'no-store'}).then(r => r.json()).then(s => {
    ['connections', 'held', 'line', 'deviceTrouble', 'standby'].forEach(k =>
      document.getElementById(k).textContent = s[k]);
    // Lumari had not looked at its events and devices yet: soon again.
    if (!s.copiesIn) { setTimeout(refresh, 500); return; }
    const states = {waiting: T.waiting, refused: T.refused, setAside: T.setAside};
    fill(document.getElementById('events'), [T.received, T.line, T.state, T.attempts, ''], s.events, (row, e) => {
      row.className = e.state;
      cell(row, e.received); cell(row, e.line); cell(row, states[e.state]); cell(row, e.attempts);
      const c = cell(row, '');
      if (T.actions && e.state === 'setAside') {
        [['sendAgain', T.sendAgain], ['release', T.release]].forEach(([a, label]) => {
          const b = document.createElement('button');
          b.textContent = label; b.id = a + '-' + e.key; b.onclick = () => act(a, e.key);
          c.appendChild(b);
        });
      }
    });
    fill(document.getElementById('devices'),
         [T.device, T.description, T.period, T.state, T.address, T.connected, T.lastFrame, ''], s.devices, (row, d) => {
      row.className = d.state;
      cell(row, d.id); cell(row, d.description);
      cell(row, d.period === undefined ? '' : d.period === 0 ? T.notSupervised : d.period);
      cell(row, stateText(d, s.utcOffsetSeconds)); cell(row, d.address);
      cell(row, when(d.connected, s.utcOffsetSeconds)); cell(row, when(d.lastFrame, s.utcOffsetSeconds));
      const c = cell(row, '');
      if (T.actions && d.state === 'refusedNotListed') {
        const b = document.createElement('button');
        b.textContent = T.admit; b.id = 'admit-' + d.id; b.onclick = () => act('admit', 0, d.id);
        c.appendChild(b);
      }
    });
    if (document.getElementById('message').textContent === T.unreachable)
      document.getElementById('message').textContent = '';
  }).catch(() => { document.getElementById('message').textContent = T.unreachable; });
}
document.getElementById('eventsTitle').textContent = T.events;
document.getElementById('devicesTitle').textContent = T.devices;
if (T.actions) {
  const label = document.createElement('label');
  label.textContent = T.password + ' ';
  const input = document.createElement('input');
  input.type = 'password'; input.id = 'password';
  label.appendChild(input);
  document.getElementById('auth').appendChild(label);
}
refresh();
setInterval(refresh, )";

const char kEnd[] = R"();
</script></body></html>
)";

} // namespace

QByteArray VelmoraStatusPage::html(bool actionsAllowed)
{
    // "</" cannot occur in the JSON's strings as markup would read it: the
    // slash is escaped, which JSON allows.
    QByteArray texts = textsJson(actionsAllowed);
    texts.replace("</", "<\\/");
    return QByteArray(kHead) + texts + kTail + QByteArray::number(kRefreshMs) + kEnd;
}
