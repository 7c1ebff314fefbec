// The official MCP TypeScript SDK's client against the built connector, with the demo host playing
// the application: what a real MCP client sees, from the handshake to a host that has gone away.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { ErrorCode, McpError } from '@modelcontextprotocol/sdk/types.js';

const connector = process.env.VESK_CONNECTOR;
const demoHost = process.env.VESK_DEMO_HOST;
const notOpen = 'Vesk isn\u2019t open on this Mac, so the other chats can\u2019t be reached.';

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

describe('the connector under the official MCP client', () => {
  assert.ok(connector && demoHost, 'VESK_CONNECTOR and VESK_DEMO_HOST name the built binaries');
  const folder = mkdtempSync(join(tmpdir(), 'vesk-sdk-'));
  const socket = join(folder, 'bridge.sock');
  let host;
  let client;
  let errors = '';

  before(async () => {
    host = await startHost(socket);
    // MCP clients start servers with a reduced environment, so the socket's path goes in `env`.
    const transport = new StdioClientTransport({
      command: connector,
      args: ['--chat', 'web'],
      env: { VESK_BRIDGE_SOCKET: socket },
      stderr: 'pipe',
    });
    transport.stderr.on('data', (chunk) => { errors += chunk; });
    client = new Client({ name: 'vesk-sdk-test', version: '1.0.0' });
    await client.connect(transport);
  });

  after(async () => {
    await client?.close();
    if (host && host.exitCode === null) host.kill('SIGKILL');
    rmSync(folder, { recursive: true, force: true });
  });

  it('completes the initialize handshake', () => {
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
      assert.ok(error instanceof McpError);
      assert.equal(error.code, ErrorCode.InvalidParams);
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
