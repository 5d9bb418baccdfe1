// The dashboard's first view in chromium for an agent with 100 servers of
// 20 operations each, and what one refresh asks of the agent. Prints
// "first_view_ms=... refresh_requests=..." for scripts/run-bench.
// Usage: node bench/dashboard.mjs BUILD [RUNS]
import path from 'node:path';
import {eventually, launchBrowser, startAgent, writeLog} from '../tests/ui/harness.mjs';

const build = path.resolve(process.argv[2] || 'build');
const runs = Number(process.argv[3] || 5);
const agent = await startAgent(build);
const browser = await launchBrowser().catch(async (e) => {
  await agent.stop();
  throw e;
});
try {
  const now = Date.now() - 60000;
  for (let s = 1; s <= 100; s++) {
    const records = [];
    for (let i = 0; i < 200; i++) {
      records.push([`Port${i % 4}`, `operation${i % 20}`, 10 + i, i % 50 === 0]);
    }
    writeLog(agent.logs, `benchsrv${String(s).padStart(3, '0')}`, records, now);
  }
  await eventually('100 servers of 20 operations', 120, async () =>
    (await agent.api('/api/v1/tables/ZEPINV')).count >= 2000 &&
    (await agent.api('/api/v1/subnodes')).subnodes.length === 100);

  const page = browser.pages()[0] || await browser.newPage();
  const times = [];
  for (let i = 0; i < runs; i++) {
    await page.goto(agent.base + '/');
    await page.waitForSelector('body[data-ready=overview]', {timeout: 10000}).catch(async (e) => {
      throw new Error(`${e.message}: ${await page.textContent('#status')}`);
    });
    if (await page.locator('#subnodes-table tbody tr').count() !== 100) {
      throw new Error('the overview does not list 100 subnodes');
    }
    times.push(await page.evaluate(
      () => performance.getEntriesByName('zep-first-view')[0].startTime));
  }
  times.sort((a, b) => a - b);

  // One refresh of each view: the agent's answers asked for, by path.
  const asked = {};
  for (const view of ['overview', 'subnode', 'situations', 'config']) {
    await page.goto(`${agent.base}/#${view}`);
    await page.waitForSelector(`body[data-ready=${view}]`);
    const seen = [];
    const count = (r) => seen.push(new URL(r.url()).pathname);
    page.on('request', count);
    const before = await page.textContent('#status');
    await page.waitForFunction((b) => document.getElementById('status').textContent !== b, before);
    page.off('request', count);
    asked[view] = seen.sort().join(',');
  }
  console.log(`first_view_ms=${times[Math.floor(times.length / 2)].toFixed(0)} ` +
              `first_view_max_ms=${times.at(-1).toFixed(0)} runs=${runs}`);
  for (const [view, list] of Object.entries(asked)) console.log(`refresh_${view}=${list}`);
} finally {
  await browser.close();
  await agent.stop();
}
