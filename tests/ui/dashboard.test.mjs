// The dashboard in a real browser against the real agent and simulator:
// what a person would check in each view. Screenshots go to
// BUILD/ui-screenshots. Usage: node dashboard.test.mjs BUILD
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {TOKEN, eventually, launchBrowser, startAgent, writeLog} from './harness.mjs';

const build = path.resolve(process.argv[2] || 'build');
const shots = path.join(build, 'ui-screenshots');
fs.mkdirSync(shots, {recursive: true});

let agent, browser;
try {
  agent = await startAgent(build);
  browser = await launchBrowser();
  // Two simulated servers over the last two minutes, and a hostile one.
  const from = Math.floor(Date.now() / 1000) - 150;
  agent.simulate(['--servers', '2', '--count', '120', '--step-ms', '1000', '--fault-ratio', '0.2',
                  '--time-base', String(from)]);
  writeLog(agent.logs, 'evil', [['<script>window.pwned=1</script>', 'op', 5, true]]);
  const names = await eventually('three subnodes', 30, async () => {
    const s = (await agent.api('/api/v1/subnodes')).subnodes.map((n) => n.name);
    return s.length === 3 && s;
  });

  const page = browser.pages()[0] || await browser.newPage();
  const foreign = [];
  page.on('request', (r) => r.url().startsWith(agent.base + '/') || foreign.push(r.url()));
  const errors = [];   // script errors and refusals by the page's policy; not HTTP statuses
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => m.type() === 'error' && !m.text().startsWith('Failed to load resource') &&
    errors.push(m.text()));
  const view = async (name) => {
    await page.click(`nav a[data-view=${name}]`);
    await page.waitForSelector(`body[data-ready=${name}]`);
  };

  // Overview: every subnode, by name.
  await page.goto(agent.base + '/');
  await page.waitForSelector('body[data-ready=overview]');
  const listed = await page.locator('#subnodes-table tbody td:first-child').allTextContents();
  assert.deepEqual(listed.sort(), [...names].sort());
  await page.screenshot({path: path.join(shots, 'overview.png'), fullPage: true});

  // A subnode: an operation's count is the agent's, and the charts have points.
  const server = names.find((n) => n.includes('appsrv01'));
  await view('subnode');
  await page.selectOption('#subnode-select', server);
  await eventually('an operation counted as the API counts it', 10, async () => {
    const inv = (await agent.api(`/api/v1/tables/ZEPINV?subnode=${encodeURIComponent(server)}`))
      .rows;
    const latest = inv.map((r) => r.INTBEGTIME).sort().at(-1);
    const row = inv.filter((r) => r.INTBEGTIME === latest)
      .sort((a, b) => b.MSGCOUNT - a.MSGCOUNT)[0];
    const cells = page.locator('#operations-table tbody tr')
      .filter({hasText: `${row.PORTNAME}.${row.OPNAME}`})
      .filter({hasText: row.SVCTYPE === 0 ? 'requester' : 'provider'}).locator('td');
    return (await cells.nth(2).textContent()) === row.MSGCOUNT.toLocaleString('en');
  });
  assert.ok(await page.locator('#chart-rate circle').count() > 10, 'rate chart points');
  assert.ok(await page.locator('#chart-elapsed circle').count() > 10, 'elapsed chart points');
  await page.screenshot({path: path.join(shots, 'subnode.png'), fullPage: true});

  // Untrusted names are text: the <script> shows and never runs.
  await page.selectOption('#subnode-select', names.find((n) => n.includes('evil')));
  await page.locator('#operations-table td', {hasText: '<script>'}).first().waitFor();
  assert.equal(await page.evaluate(() => window.pwned), undefined);

  // An action command through the form: asks for the token once, changes ZEPDCMT.
  await view('config');
  await page.fill('#action-form input[name=command]', 'addMonitorControl;appsrv01;' +
    'Granite_Application_Server;host01.example.com;OrderPort;submitOrder;Full');
  await page.click('#action-form button[type=submit]');
  await page.fill('#token-input', TOKEN);
  await page.press('#token-input', 'Enter');
  await page.waitForSelector('#action-answer:text("rc 0")');
  const dcmt = (await agent.api('/api/v1/tables/ZEPDCMT')).rows;
  assert.ok(dcmt.some((r) => r.OPNAME === 'submitOrder'), 'the monitor control is in ZEPDCMT');
  await page.locator('#collectors td', {hasText: 'OrderPort.submitOrder'}).first().waitFor();
  await page.screenshot({path: path.join(shots, 'config.png'), fullPage: true});

  // A situation through the form (the token is kept): raised by new traffic.
  await view('situations');
  await page.fill('#situation-form input[name=name]', 'ManyCancels');
  await page.fill('#situation-form input[name=port]', 'OrderPort');
  await page.fill('#situation-form input[name=limit]', '5');
  await page.click('#situation-form button[type=submit]');
  await page.waitForSelector('#situation-answer:text("ManyCancels created")');
  agent.simulate(['--count', '20', '--services', '1', '--locations', '2', '--seed', '7']);
  await page.locator('#situations-table .state.raised').waitFor({timeout: 90000});
  await page.locator('#events li.raised').first().waitFor();
  await page.screenshot({path: path.join(shots, 'situations.png'), fullPage: true});
  await page.click('#situations-table button.danger');
  await page.waitForSelector('#situation-answer:text("ManyCancels deleted")');
  assert.deepEqual((await agent.api('/api/v1/situations')).situations, []);

  // Narrow window: still one column of readable content.
  await page.setViewportSize({width: 420, height: 800});
  await view('overview');
  await page.screenshot({path: path.join(shots, 'overview-narrow.png'), fullPage: true});
  assert.deepEqual(foreign, [], 'requests beyond the agent');
  assert.deepEqual(errors, [], 'errors in the page');
  console.log(`dashboard test passed; screenshots in ${shots}`);
} finally {
  await browser?.close();
  await agent?.stop();
}
