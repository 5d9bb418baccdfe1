// Another site's page in a real browser tries to change an agent that opens
// changes to anyone (--allow-unauthenticated-changes, the weakest setting):
// a form POST, a no-cors fetch with text/plain, a JSON fetch; and a page
// reached by a name that rebinds to the agent tries to read it. Nothing
// changes and nothing is read; the same requests from a script (no Origin)
// work, so the refusals are the browser rules', not a broken request.
// Usage: node cross_origin.test.mjs BUILD
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import http from 'node:http';
import {eventually, launchBrowser, startAgent} from './harness.mjs';

const build = path.resolve(process.argv[2] || 'build');
const setting = 'setKeyVal zep.axo.maxMetricsRecords';
const situation = JSON.stringify({name: 'Forged', table: 'ZEPMATT', conditions: [
  {attribute: 'RMIPADDR', op: '=', value: '*'}, {attribute: 'PORTNAME', op: '=', value: 'OrderPort'},
  {attribute: 'TMINT', op: '=', value: 60}, {attribute: 'MSGCNT', op: '>=', value: 1}]});

let agent, browser, site;
try {
  agent = await startAgent(build, {token: false, args: ['--allow-unauthenticated-changes']});
  const port = new URL(agent.base).port;
  // Both names lead to 127.0.0.1, as a rebinding DNS server would make them.
  browser = await launchBrowser(['--host-resolver-rules=MAP *.example 127.0.0.1']);
  const config = path.join(agent.root, 'install/ZEP/config/ZEP.dc.properties');
  const post = (route, body, type) => fetch(agent.base + route,
    {method: 'POST', body, headers: {'Content-Type': type}});
  // A script's change goes through: the request is a sound one.
  assert.equal((await (await post('/api/v1/actions', `${setting}=777`, 'text/plain')).json()).rc, 0);
  await eventually('the setting written', 10, async () => fs.readFileSync(config, 'utf8')
    .includes('zep.axo.maxMetricsRecords=777'));
  const before = fs.readFileSync(config);

  // The hostile page, served on another port of the same address (same
  // site, other origin) and by another site's name.
  const form = `<form method=post enctype=text/plain action="${agent.base}/api/v1/actions">` +
               `<input name="${setting}" value="0"></form>`;
  site = http.createServer((req, res) => res.setHeader('Content-Type', 'text/html').end(form));
  await new Promise((resolve) => site.listen(0, '127.0.0.1', resolve));
  for (const origin of [`http://127.0.0.1:${site.address().port}`,
                        `http://evil.example:${site.address().port}`]) {
    const page = await browser.newPage();
    await page.goto(origin + '/');
    await page.evaluate(async ({base, situation}) => {
      const send = (route, init) => fetch(base + route, {method: 'POST', ...init}).catch(() => {});
      await send('/api/v1/situations', {mode: 'no-cors', body: situation,
                                        headers: {'Content-Type': 'text/plain'}});
      await send('/api/v1/situations', {body: situation,
                                        headers: {'Content-Type': 'application/json'}});
      await send('/api/v1/manager', {mode: 'no-cors', body: '{"words": ["", "", "STOP"]}'});
    }, {base: agent.base, situation});
    const answer = await Promise.all([page.waitForNavigation(), page.locator('form').evaluate(
      (f) => f.submit())]).then(([r]) => r);
    assert.equal(answer.status(), 403, `the form's POST from ${origin}`);
    await page.close();
  }
  assert.deepEqual(fs.readFileSync(config), before, 'the configuration file is unchanged');
  assert.deepEqual((await agent.api('/api/v1/situations')).situations, []);
  assert.equal((await fetch(agent.base + '/healthz')).status, 200, 'the agent still runs');
  assert.match(agent.trace(), /AXO0105W Refused POST \/api\/v1\/manager/);

  // A rebinding name reaches the agent's address: it reads nothing.
  const page = await browser.newPage();
  const read = await page.goto(`http://rebind.example:${port}/api/v1/tables/ZEPSMT`);
  assert.equal(read.status(), 421);
  assert.equal(await read.text(), '{"error":"misdirected request"}\n');
  assert.equal((await post('/api/v1/situations', situation, 'application/json')).status, 201,
               'the same situation from a script');
  console.log('cross-origin test passed');
} catch (e) {
  console.error(agent?.trace());
  throw e;
} finally {
  site?.close();
  await browser?.close();
  await agent?.stop();
}
