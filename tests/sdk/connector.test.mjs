// The official MCP TypeScript SDK's clients against the built connector, with the demo host playing
// the application: what a real MCP client sees, from its first exchange to a host that has gone away.
// Both generations: the v1 client, which knows only the initialize handshake, and the v2 client in
// each of its three modes, which land on the era each asks for. Each client gets a demo host and a
// connector of its own, since the last step stops the host.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { Client as ClientV1 } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport as TransportV1 } from '@modelcontextprotocol/sdk/client/stdio.js';
import { McpError } from '@modelcontextprotocol/sdk/types.js';
import { Client as ClientV2, ProtocolError } from '@modelcontextprotocol/client';
import { StdioClientTransport as TransportV2 } from '@modelcontextprotocol/client/stdio';

const connector = process.env.VESK_CONNECTOR;
const demoHost = process.env.VESK_DEMO_HOST;
const notOpen = 'Vesk isn\u2019t open on this Mac, so the other chats can\u2019t be reached.';
const modern = '2026-07-28';

// The clients, and the era each must land on: the v2 client stays with the initialize handshake
// unless asked; 'auto' probes with server/discover and takes the new era when it is offered; a pin
// takes nothing else. The v1 client has no notion of eras.
const generations = {
  v1: { Client: ClientV1, Transport: TransportV1, ProtocolError: McpError },
  v2: { Client: ClientV2, Transport: TransportV2, ProtocolError },
};
const clients = [
  { name: 'the v1 client', generation: generations.v1 },
  { name: 'the v2 client as it comes', generation: generations.v2, era: 'legacy' },
  { name: 'the v2 client in auto mode', generation: generations.v2, era: 'modern',
    options: { versionNegotiation: { mode: 'auto' } } },
  { name: `the v2 client pinned to ${modern}`, generation: generations.v2, era: 'modern',
    options: { versionNegotiation: { mode: { pin: modern } } } },
];

// Starts the demo host and resolves once it says it listens; its standard error tells us when.
async function startHost(socket) {
  const host = spawn(demoHost, [socket], { stdio: ['ignore', 'ignore', 'pipe'] });
  let said = '';
  host.stderr.setEncoding('utf8');
  await new Promise((resolve, reject) => {
    host.stderr.on('data', (chunk) => {
      said += chunk;
      if (said.includes('listening on')) resolve();
    });
    host.once('exit', () => reject(new Error(`the demo host ended: ${said}`)));
  });
  return host;
}

function text(result) {
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, 'text');
  return result.content[0].text;
}

// What a 2026-07-28 client is told before its first request, beside what initialize tells.
function checkDiscovered(discovered) {
  assert.deepEqual(discovered.supportedVersions, [modern]);
  assert.ok(Number.isSafeInteger(discovered.ttlMs) && discovered.ttlMs >= 0, `ttlMs ${discovered.ttlMs}`);
  assert.ok(['public', 'private'].includes(discovered.cacheScope), `cacheScope ${discovered.cacheScope}`);
}

assert.ok(connector && demoHost, 'VESK_CONNECTOR and VESK_DEMO_HOST name the built binaries');

for (const { name, generation, era, options } of clients) {
  describe(`the connector under ${name}`, () => {
    const folder = mkdtempSync(join(tmpdir(), 'vesk-sdk-'));
    const socket = join(folder, 'bridge.sock');
    let host;
    let client;
    let errors = '';

    before(async () => {
      host = await startHost(socket);
      // MCP clients start servers with a reduced environment, so the socket's path goes in `env`.
      const transport = new generation.Transport({
        command: connector,
        args: ['--chat', 'web'],
        env: { VESK_BRIDGE_SOCKET: socket },
        stderr: 'pipe',
      });
      transport.stderr.on('data', (chunk) => { errors += chunk; });
      client = new generation.Client({ name: 'vesk-sdk-test', version: '1.0.0' }, options);
      await client.connect(transport);
    });

    after(async () => {
      await client?.close();
      if (host && host.exitCode === null) host.kill('SIGKILL');
      rmSync(folder, { recursive: true, force: true });
    });

    it(era ? `lands on the ${era} era and learns who the connector is` : 'learns who the connector is', () => {
      if (era) assert.equal(client.getProtocolEra(), era);
      if (era === 'modern') checkDiscovered(client.getDiscoverResult());
      else assert.equal(client.getDiscoverResult?.(), undefined);
      assert.deepEqual(client.getServerVersion(), { name: 'vesk', version: '1.0' });
      assert.deepEqual(client.getServerCapabilities(), { tools: { listChanged: false } });
      assert.match(client.getInstructions(), /^Vesk's connector: /);
    });

    it('lists three tools that the SDK accepts', async () => {
      const { tools } = await client.listTools();
      assert.deepEqual(tools.map((tool) => [tool.name, tool.annotations.title]), [
        ['vesk_list_chats', 'List Vesk chats'],
        ['vesk_send_to_chat', 'Send to a Vesk chat'],
        ['vesk_read_chat', 'Read a Vesk chat'],
      ]);
      assert.deepEqual(tools[2].inputSchema.required, ['chat']);
    });

    it('calls each tool and brings back the host\'s answers', async () => {
      const listed = await client.callTool({ name: 'vesk_list_chats' });
      assert.equal(listed.isError, false);
      assert.match(text(listed), /\n- web: "Shop front end", Claude, ~\/shop\/web, idle \(you\)\n/);

      const sent = await client.callTool({ name: 'vesk_send_to_chat', arguments: { chat: 'docs', message: 'Guide\nupdated?' } });
      assert.equal(sent.isError, false);
      assert.equal(text(sent), 'Sent to "Shop docs" (docs), labelled with this chat\'s name, "Shop front end". It starts that chat\'s next turn.');

      const read = await client.callTool({ name: 'vesk_read_chat', arguments: { chat: 'docs', last_n: 1 } });
      assert.equal(read.isError, false);
      assert.equal(text(read), 'The last 1 message in "Shop docs" (docs), oldest first:\n[from "Shop front end"] Guide\nupdated?');
    });

    it('shows a refusal of the host as an isError result', async () => {
      const refusals = [
        [{ name: 'vesk_read_chat', arguments: { chat: 'docs', last_n: 50 } }, 'last_n must be a whole number from 1 to 20.'],
        [{ name: 'vesk_send_to_chat', arguments: { chat: 'web', message: 'me?' } }, 'That is this chat itself; send to another chat\'s id.'],
      ];
      for (const [call, error] of refusals) {
        const result = await client.callTool(call);
        assert.equal(result.isError, true);
        assert.equal(text(result), error);
      }
    });

    it('answers an unknown tool with a protocol error', async () => {
      await assert.rejects(client.callTool({ name: 'vesk_fly' }), (error) => {
        assert.ok(error instanceof generation.ProtocolError, `${error}`);
        assert.equal(error.code, -32602);
        assert.match(error.message, /Unknown tool: vesk_fly/);
        return true;
      });
    });

    it('says Vesk is not open once the host has stopped', async () => {
      host.kill('SIGTERM');
      const [code] = await once(host, 'exit');
      assert.equal(code, 0);
      assert.equal(existsSync(socket), false);
      const result = await client.callTool({ name: 'vesk_list_chats' });
      assert.equal(result.isError, true);
      assert.equal(text(result), notOpen);
    });

    it('writes nothing to standard error', () => {
      assert.equal(errors, '');
    });
  });
}
