// What the browser tests and the dashboard benchmark share: the real agent
// on a private install directory and a free loopback port, metric log files,
// and Debian's chromium driven by playwright-core.
import {spawn, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export const TOKEN = 'ui-token-0123456789';

export async function eventually(what, seconds, check) {
  const end = Date.now() + seconds * 1000;
  for (;;) {
    const value = await check().catch(() => false);
    if (value) return value;
    if (Date.now() > end) throw new Error(`not within ${seconds} s: ${what}`);
    await new Promise((r) => setTimeout(r, 200));
  }
}

// Starts zepagent from `build` with its own install directory under a new
// temporary directory, with the token TOKEN unless `token` is false and
// with `args` added; resolves once its API answers.
export async function startAgent(build, {token = true, args = []} = {}) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'zep-ui-'));
  const etc = path.join(root, 'etc'), install = path.join(root, 'install');
  const logs = path.join(install, 'ZEP/logs');
  for (const d of [etc, path.join(install, 'ZEP/config'), logs]) fs.mkdirSync(d, {recursive: true});
  fs.writeFileSync(path.join(etc, 'ZEPBaseDirConfig.properties'), `INSTALLDIR=${install}\n`);
  fs.writeFileSync(path.join(install, 'ZEP/config/ZEP.dc.properties'),
                   'zep.axo.logReadSleepTimeSeconds=1\n');
  fs.writeFileSync(path.join(root, 'token'), TOKEN + '\n', {mode: 0o600});
  const trace = path.join(root, 'trace.log');
  const child = spawn(path.join(build, 'zepagent'),
    ['--listen', '127.0.0.1:0', '--trace-file', trace,
     ...(token ? ['--token-file', path.join(root, 'token')] : []), ...args],
    {env: {...process.env, ZEP_ETC_DIR: etc}, stdio: 'ignore'});
  let exited = null;
  const ended = new Promise((resolve) => child.on('exit', (code) => { exited = code; resolve(); }));
  const base = await eventually('the agent listens', 30, async () => {
    if (exited !== null) throw new Error(`the agent ended with ${exited}`);
    const m = /listening on (http:\/\/127\.0\.0\.1:[0-9]+)/.exec(fs.readFileSync(trace, 'utf8'));
    return m && (await fetch(m[1] + '/healthz')).ok && m[1];
  });
  const api = async (p) => (await fetch(base + p)).json();
  // Ends the agent and removes its directory.
  const stop = async () => {
    if (exited === null) child.kill('SIGTERM');
    await ended;
    fs.rmSync(root, {recursive: true, force: true});
  };
  return {root, logs, base, api, stop, trace: () => fs.readFileSync(trace, 'utf8'),
          simulate: (args) => {
            const r = spawnSync(path.join(build, 'zepdcsim'), ['--dir', logs, ...args]);
            if (r.status !== 0) throw new Error(`zepdcsim ${args.join(' ')}: ${r.stderr}`);
          }};
}

// Writes one complete metric log file of `server` as a data collector does:
// the header, then records [port, operation, elapsed ms, fault] at `timeMs`.
export function writeLog(dir, server, records, timeMs = Date.now()) {
  const head = ['version=01.01.00', 'env=1', 'node=node01', 'cell=cell1', `servername=${server}`,
                'cluster=cluster1', 'hostname=host01.example.com', 'ipaddress=10.0.0.2'];
  const lines = records.map(([port, op, elapsed, fault], i) =>
    [2, timeMs + i, 'WebContainer : 1', elapsed, port, op, 0, fault ? 1 : 0, 500 + i,
     `c${i}`, 0, '', 'client1.example.com', '192.168.1.1',
     fault ? 'Server.Busy' : '', fault ? 'busy' : ''].join(';'));
  const name = path.join(dir, `ZEP.${server}.000001.metric.log`);
  const text = head.map((h) => `#ZEP.${h}\n`).join('') + lines.join('\n') + '\n';
  fs.writeFileSync(name + '.tmp', text);
  fs.renameSync(name + '.tmp', name);
}

// Chromium with a fresh profile, removed by close(), and `args` added to its
// command line; fails with the reason when chromium or playwright-core is
// missing.
export async function launchBrowser(args = []) {
  const {chromium} = await import('playwright-core').catch((e) => {
    throw new Error(`playwright-core is not installed (run scripts/install-deps): ${e.message}`);
  });
  if (!fs.existsSync('/usr/bin/chromium')) {
    throw new Error('/usr/bin/chromium is missing (Debian package chromium; scripts/install-deps)');
  }
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'zep-ui-profile-'));
  const browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, viewport: {width: 1280, height: 800},
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           ...args]});
  const close = browser.close.bind(browser);
  browser.close = async () => {   // and then the profile goes
    await close();
    fs.rmSync(profile, {recursive: true, force: true, maxRetries: 5, retryDelay: 200});
  };
  return browser;
}
