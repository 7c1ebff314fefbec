// Claude Code and Codex, the agent hosts that start the connector, each driven through whole turns
// against a scripted model and the demo host: configured as the README says, they start the
// connector, hand the model its tools, call the one it asks for and hand the result back. Every
// turn is checked where the model sees it and on the wire between host and connector, in each
// protocol era a host can be set to speak: as it comes, and switched the README's way.
// Run inside a network namespace of its own (run.sh), so nothing can leave the machine.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { messagesModel, responsesModel, turn } from './models.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const connector = process.env.VESK_CONNECTOR;
const demoHost = process.env.VESK_DEMO_HOST;
const notOpen = 'Vesk isn\u2019t open on this Mac, so the other chats can\u2019t be reached.';
const turnLimit = 120_000;
const versionKey = 'io.modelcontextprotocol/protocolVersion';
const modern = '2026-07-28';
// Set in each host's own environment: whether it reaches the connector shows what the host passes on.
const marker = { VESK_HOSTS_MARKER: 'from the shell' };

// The README's configuration, with its placeholders filled in for this run.
const readme = readFileSync(join(here, '../../README.md'), 'utf8');
const block = (language) => readme.match(new RegExp('```' + language + '\\n([\\s\\S]*?)```'))[1];
function filled(text, wrapper, socket) {
  return text.replaceAll('/usr/local/bin/vesk-connector', wrapper)
    .replaceAll('/Users/me/Library/Application Support/Vesk/bridge.sock', socket).replaceAll('CHAT_ID', 'web');
}

// The process groups of the hosts started so far, and a way to end whatever is left of them.
const groups = [];
function reap() {
  for (const group of groups.splice(0)) {
    try { process.kill(-group, 'SIGKILL'); } catch { /* the group has ended already */ }
  }
}

// Runs `command` in `work`, in a process group of its own, within `limit` ms, and resolves to its
// exit and output. Past the limit the whole group is killed, so nothing it started lives on.
async function run(command, args, { env, work, limit = turnLimit }) {
  const child = spawn(command, args, { env, cwd: work, stdio: ['ignore', 'pipe', 'pipe'], detached: true });
  groups.push(child.pid);
  let stdout = '';
  let stderr = '';
  child.stdout.on('data', (chunk) => { stdout += chunk; });
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const timer = setTimeout(() => process.kill(-child.pid, 'SIGKILL'), limit);
  const [code, signal] = await once(child, 'close');
  clearTimeout(timer);
  return { code, signal, stdout, stderr };
}

function assertRan(outcome, what) {
  assert.equal(outcome.code, 0, `${what} ended with ${outcome.code ?? outcome.signal}: ${outcome.stderr}${outcome.stdout}`);
}

// Starts the demo host and resolves once it says it listens.
async function startDemoHost(socket) {
  const host = spawn(demoHost, [socket], { stdio: ['ignore', 'ignore', 'pipe'] });
  let said = '';
  host.stderr.setEncoding('utf8');
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`the demo host did not start: ${said}`)), 10_000);
    host.stderr.on('data', (chunk) => {
      said += chunk;
      if (said.includes('listening on')) { clearTimeout(timer); resolve(); }
    });
    host.once('exit', () => reject(new Error(`the demo host ended: ${said}`)));
  });
  return host;
}

async function stop(child) {
  if (child.exitCode !== null || child.signalCode !== null) return;
  const timer = setTimeout(() => child.kill('SIGKILL'), 10_000);
  child.kill('SIGTERM');
  await once(child, 'exit');
  clearTimeout(timer);
}

// The logging wrapper, written as an executable the hosts start where the connector would go; it
// is node itself (no shell between), so the environment it logs is the one the host gave.
function writeWrapper(work, log) {
  const wrapper = join(work, 'vesk-connector');
  writeFileSync(wrapper, `#!${process.execPath}\nprocess.argv.splice(2, 0, ${JSON.stringify(log)}, ` +
    `${JSON.stringify(connector)});\nimport(${JSON.stringify(pathToFileURL(join(here, 'wire.mjs')).href)});\n`,
  { mode: 0o755 });
  return wrapper;
}

// Whether a process has ended: gone, or a zombie nobody has reaped yet.
function ended(pid) {
  try {
    return readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].startsWith('Z');
  } catch {
    return true;
  }
}

// The log of one connector's life and its standard error, once it has ended (within 10 s of its
// host); one still running then is killed.
async function wireLog(log) {
  assert.ok(existsSync(log), 'the host did not start the connector');
  const { pid } = JSON.parse(readFileSync(log, 'utf8').split('\n')[0]);
  for (let waited = 0; !ended(pid); waited += 50) {
    if (waited >= 10_000) {
      process.kill(pid, 'SIGKILL');
      assert.fail('the connector did not end with its host');
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  const entries = readFileSync(log, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line));
  return { entries, stderr: readFileSync(`${log}.stderr`, 'utf8') };
}

const claudeCode = {
  name: 'Claude Code',
  binary: join(here, 'node_modules/@anthropic-ai/claude-code-linux-x64/claude'),
  startModel: messagesModel,
  passesItsEnvironment: true,
  env: (work) => ({ ...process.env, ...marker, HOME: work, TMPDIR: work, CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC: '1' }),
  async configure(work, wrapper, socket) {
    const command = readme.match(/^ {4}(claude mcp add .*)$/m)[1];
    const added = await run('sh', ['-c', filled(command, wrapper, socket).replace(/^claude /, '"$0" '), this.binary],
      { env: this.env(work), work, limit: 30_000 });
    assertRan(added, 'claude mcp add');
    const written = JSON.parse(readFileSync(join(work, '.claude.json'), 'utf8')).mcpServers.vesk;
    const { command: exe, args, env } = written;
    assert.deepEqual({ command: exe, args, env }, JSON.parse(filled(block('json'), wrapper, socket)).mcpServers.vesk);
  },
  async turn(work, model, step, setting) {
    const env = { ...this.env(work), ...setting.env, ANTHROPIC_BASE_URL: `http://127.0.0.1:${model.port}`,
      ANTHROPIC_API_KEY: 'scripted', ENABLE_TOOL_SEARCH: 'false' };
    const outcome = await run(this.binary, ['-p', `Use ${step.tool}.`, '--allowedTools', `mcp__vesk__${step.tool}`],
      { env, work });
    assertRan(outcome, 'claude -p');
    const [result] = model.turn.results;
    return { ...result, offered: model.turn.requests[0]?.tools?.map((tool) => tool.name) ?? [] };
  },
};

const codex = {
  name: 'Codex',
  binary: join(here, 'node_modules/@openai/codex-linux-x64/vendor/x86_64-unknown-linux-musl/bin/codex'),
  startModel: responsesModel,
  passesItsEnvironment: false,
  env: (work) => ({ ...process.env, ...marker, HOME: work, TMPDIR: work, CODEX_HOME: join(work, 'codex') }),
  async configure(work, wrapper, socket, model, setting) {
    mkdirSync(join(work, 'codex'));
    // The 2026-07-28 opt-in takes both: the feature, and the version in the server's own env.
    const server = filled(block('toml'), wrapper, socket);
    const optedIn = setting.optIn
      ? server.replace('env = { ', `env = { CODEX_MCP_PROTOCOL_VERSION = "${modern}", `) : server;
    if (setting.optIn) assert.notEqual(optedIn, server, 'the README\'s Codex block has an inline env table');
    // A model Codex has no metadata for: for the ones it knows it may hide MCP tools behind a search.
    writeFileSync(join(work, 'codex/config.toml'), `model = "scripted"
model_provider = "scripted"
approval_policy = "never"
sandbox_mode = "read-only"

[model_providers.scripted]
name = "Scripted model"
base_url = "http://127.0.0.1:${model.port}/v1"
wire_api = "responses"
request_max_retries = 0
stream_max_retries = 0

[features]
plugins = false
${setting.optIn ? 'mcp_2026_07_28 = true' : ''}

[analytics]
enabled = false

${optedIn}`);
  },
  async turn(work, model, step) {
    const outcome = await run(this.binary, ['exec', '--strict-config', '--json', '--skip-git-repo-check', `Use ${step.tool}.`],
      { env: this.env(work), work });
    assertRan(outcome, 'codex exec');
    // Codex drops a server whose answers it rejects without a word: then no tool is offered, and
    // the caller says so before anything else.
    const namespace = model.turn.requests[0]?.tools?.find((tool) => tool.name === 'mcp__vesk');
    const offered = (namespace?.tools ?? []).map((tool) => `mcp__vesk__${tool.name}`);
    if (!offered.includes(`mcp__vesk__${step.tool}`)) return { offered };
    // Codex gives the model no error mark; its own report of the call says whether it failed.
    const calls = outcome.stdout.split('\n').filter(Boolean).map((line) => JSON.parse(line))
      .filter((event) => event.type === 'item.completed' && event.item.type === 'mcp_tool_call');
    assert.equal(calls.length, 1, outcome.stdout + outcome.stderr);
    const [result] = model.turn.results;
    return { ...result, isError: calls[0].item.status === 'failed', offered };
  },
};

const token = `token-${process.pid}-${Date.now()}`;
const turns = [
  { name: 'lists the chats', tool: 'vesk_list_chats', args: {},
    text: '\n- web: "Shop front end", Claude, ~/shop/web, idle (you)\n', isError: false },
  { name: 'sends a message', tool: 'vesk_send_to_chat', args: { chat: 'api', message: token },
    text: 'Sent to "Shop API" (api), labelled with this chat\'s name, "Shop front end". It will start that chat\'s next turn once the current one ends.', isError: false },
  { name: 'reads it back', tool: 'vesk_read_chat', args: { chat: 'api', last_n: 3 },
    text: `[from "Shop front end"] ${token}`, isError: false },
  { name: 'hands on a refusal', tool: 'vesk_send_to_chat', args: { chat: 'billing', message: 'Hello?' },
    text: 'There is no chat "billing" open in Vesk. Use a chat id from vesk_list_chats.', isError: true },
  { name: 'says Vesk is not open once it has stopped', tool: 'vesk_list_chats', args: {}, stopFirst: true,
    text: notOpen, isError: true },
];

// The two eras as the wire shows them. The legacy one opens each connector's life with the
// initialize handshake, in the version the host offers; the 2026-07-28 one with server/discover,
// after which every request carries its version in `_meta` and every result its resultType.
function checkLegacyOpening(era, requests, answerTo) {
  assert.equal(requests[0].method, 'initialize', `the first request: ${JSON.stringify(requests[0])}`);
  assert.equal(requests[0].params.protocolVersion, era.version);
  assert.equal(answerTo(requests[0]).result.protocolVersion, era.version,
    'the connector answers in the host\'s version');
  const claims = requests.filter((request) => request.params?._meta?.[versionKey] !== undefined);
  assert.deepEqual(claims, [], 'no request claims the 2026-07-28 era');
}

function checkModernOpening(era, requests, answerTo) {
  const [probe] = requests;
  assert.equal(probe.method, 'server/discover', `the first request: ${JSON.stringify(probe)}`);
  const { result, error } = answerTo(probe);
  assert.ok(result, `server/discover was answered ${JSON.stringify(error)}, so the host fell back to initialize`);
  assert.deepEqual(result.supportedVersions, [era.version]);
  assert.deepEqual(requests.map((request) => request.params?._meta?.[versionKey]), requests.map(() => era.version),
    'every request carries the version it speaks');
  assert.deepEqual(requests.filter((request) => request.method === 'initialize'), [], 'no initialize');
  for (const request of requests) assert.equal(answerTo(request).result?.resultType, 'complete', request.method);
}

const legacyEra = (version) => ({ name: 'legacy', version, opening: ['initialize', 'notifications/initialized'],
  checkOpening: checkLegacyOpening });
const modernEra = { name: modern, version: modern, opening: ['server/discover'], checkOpening: checkModernOpening };

// What went between host and connector: each request answered exactly once, the era's opening,
// nothing on standard error, the turn's one call and its result.
function checkWire(host, era, { entries, stderr }, step, socket) {
  const [start] = entries;
  assert.equal(start.env.VESK_BRIDGE_SOCKET, socket, 'the configuration\'s env reaches the connector');
  assert.equal(start.env.VESK_HOSTS_MARKER !== undefined, host.passesItsEnvironment, 'what the host passes of its own environment');
  assert.equal(stderr, '', 'the connector wrote to standard error');
  const sent = entries.filter((entry) => 'in' in entry).map((entry) => JSON.parse(entry.in));
  const answers = entries.filter((entry) => 'out' in entry).map((entry) => JSON.parse(entry.out));
  const requests = sent.filter((message) => 'id' in message);
  assert.deepEqual(answers.map((answer) => answer.id).sort(), requests.map((request) => request.id).sort(),
    'every request gets exactly one answer');
  const answerTo = (request) => answers.find((answer) => answer.id === request.id);
  era.checkOpening(era, requests, answerTo);

  const calls = requests.filter((request) => request.method === 'tools/call');
  assert.equal(calls.length, 1);
  assert.equal(calls[0].params.name, step.tool);
  assert.deepEqual(calls[0].params.arguments, step.args);
  const { result } = answerTo(calls[0]);
  assert.ok(result.content[0].text.includes(step.text), result.content[0].text);
  assert.equal(result.isError, step.isError);
  return sent.map((message) => message.method);
}

// The hosts must reach nothing but the scripted models: refuse to start them with a way out.
const interfaces = readFileSync('/proc/self/net/dev', 'utf8').split('\n').slice(2).filter(Boolean)
  .map((line) => line.split(':')[0].trim());
assert.deepEqual(interfaces, ['lo'], 'run.sh runs this in a network namespace that holds only loopback');

// Each host as it comes and as the README switches it to the other era.
const settings = [
  { name: 'Claude Code as it comes', host: claudeCode, era: modernEra },
  { name: 'Claude Code with MCP_PROTOCOL_NEGOTIATION=legacy', host: claudeCode, era: legacyEra('2025-11-25'),
    env: { MCP_PROTOCOL_NEGOTIATION: 'legacy' } },
  { name: 'Codex as it comes', host: codex, era: legacyEra('2025-06-18') },
  { name: `Codex opted in to ${modern}`, host: codex, era: modernEra, optIn: true },
];

for (const setting of settings) {
  const { host, era } = setting;
  describe(setting.name, () => {
    const work = mkdtempSync(join(tmpdir(), 'vesk-hosts-'));
    const socket = join(work, 'bridge.sock');
    const log = join(work, 'wire.log');
    const seen = new Set();
    let demo;
    let model;

    before(async () => {
      assert.ok(connector && demoHost, 'VESK_CONNECTOR and VESK_DEMO_HOST name the built binaries');
      demo = await startDemoHost(socket);
      model = await host.startModel();
      await host.configure(work, writeWrapper(work, log), socket, model, setting);
    });

    after(async () => {
      reap();
      if (demo) await stop(demo);
      model?.server.close();
      rmSync(work, { recursive: true, force: true });
    });

    for (const step of turns) {
      it(step.name, { timeout: turnLimit + 30_000 }, async () => {
        if (step.stopFirst) await stop(demo);
        model.turn = turn(step.tool, step.args);
        try {
          const result = await host.turn(work, model, step, setting);
          assert.ok(result.offered.includes(`mcp__vesk__${step.tool}`), `the model was offered [${result.offered}]`);
          assert.equal(model.turn.results.length, 1, 'the model got the tool\'s result once');
          assert.ok(result.text.includes(step.text), `the model got: ${result.text}`);
          assert.equal(result.isError, step.isError, 'the host marks the error');
          for (const method of checkWire(host, era, await wireLog(log), step, socket)) seen.add(method);
        } finally {
          // Each turn starts its own connector: a failed one leaves neither processes nor log behind.
          reap();
          for (const file of [log, `${log}.stderr`]) rmSync(file, { force: true });
        }
      });
    }

    it(`speaks the ${era.name} era: ${era.opening.join(', ')}, then the rest of the loop`, () => {
      assert.deepEqual([...seen], [...era.opening, 'tools/list', 'tools/call']);
    });
  });
}
