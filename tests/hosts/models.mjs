// Two scripted models on loopback, one for each API the agent hosts speak. Each plays a whole turn:
// offered the turn's tool, it calls it once; handed the tool's result, it ends with a text quoting
// it. Every request is kept, so the test can see what reached the model.
import { createServer } from 'node:http';

// The turn the harness runs next: the tool (its bare name), its arguments, and what came of it.
export function turn(tool, args) {
  return { tool, args, requests: [], results: [] };
}

// Starts `answer(body, reply)` behind POST `route` on 127.0.0.1 and resolves to the server, its
// port and a setter for the current turn. Other routes get 404, so a host that asks for more than
// the loop needs shows it.
async function serve(route, answer) {
  const model = { turn: null, stray: [] };
  model.server = createServer((request, response) => {
    let body = '';
    request.setEncoding('utf8');
    request.on('data', (chunk) => { body += chunk; });
    request.on('end', () => {
      if (request.method !== 'POST' || request.url.split('?')[0] !== route || !model.turn) {
        model.stray.push(`${request.method} ${request.url}`);
        response.writeHead(404).end();
        return;
      }
      const parsed = JSON.parse(body);
      model.turn.requests.push(parsed);
      response.writeHead(200, { 'content-type': 'text/event-stream', 'cache-control': 'no-cache' });
      const events = answer(parsed, model.turn);
      for (const [type, data] of events) response.write(`event: ${type}\ndata: ${JSON.stringify({ type, ...data })}\n\n`);
      response.end();
    });
  });
  await new Promise((resolve) => model.server.listen(0, '127.0.0.1', resolve));
  model.port = model.server.address().port;
  return model;
}

// --- The Messages API (Claude Code) ---

const claudeName = (tool) => `mcp__vesk__${tool}`;

// The tool_result of the last user message, if it carries one.
function toolResult(messages) {
  const last = messages.at(-1);
  if (last?.role !== 'user' || !Array.isArray(last.content)) return null;
  return last.content.find((block) => block.type === 'tool_result') ?? null;
}

function resultText(content) {
  if (typeof content === 'string') return content;
  return (content ?? []).filter((block) => block.type === 'text').map((block) => block.text).join('');
}

function message(content, stopReason) {
  const start = { message: { id: 'msg_scripted', type: 'message', role: 'assistant', model: 'scripted', content: [],
    stop_reason: null, stop_sequence: null, usage: { input_tokens: 1, output_tokens: 1 } } };
  return [['message_start', start], ...content,
    ['message_delta', { delta: { stop_reason: stopReason, stop_sequence: null }, usage: { output_tokens: 1 } }],
    ['message_stop', {}]];
}

function textBlock(text) {
  return [['content_block_start', { index: 0, content_block: { type: 'text', text: '' } }],
    ['content_block_delta', { index: 0, delta: { type: 'text_delta', text } }],
    ['content_block_stop', { index: 0 }]];
}

function messagesAnswer(body, current) {
  const result = toolResult(body.messages ?? []);
  if (result) {
    current.results.push({ text: resultText(result.content), isError: result.is_error === true, raw: result });
    return message(textBlock(`The tool said: ${resultText(result.content)}`), 'end_turn');
  }
  const offered = (body.tools ?? []).some((tool) => tool.name === claudeName(current.tool));
  if (!offered) return message(textBlock('Nothing to do.'), 'end_turn');
  const use = { type: 'tool_use', id: `toolu_${current.requests.length}`, name: claudeName(current.tool), input: {} };
  return message([['content_block_start', { index: 0, content_block: use }],
    ['content_block_delta', { index: 0, delta: { type: 'input_json_delta', partial_json: JSON.stringify(current.args) } }],
    ['content_block_stop', { index: 0 }]], 'tool_use');
}

export const messagesModel = () => serve('/v1/messages', messagesAnswer);

// --- The Responses API (Codex) ---

const namespace = 'mcp__vesk';

function response(items) {
  const shell = { id: 'resp_scripted', object: 'response', created_at: 0, status: 'in_progress', model: 'scripted', output: [] };
  const usage = { input_tokens: 1, input_tokens_details: { cached_tokens: 0 }, output_tokens: 1,
    output_tokens_details: { reasoning_tokens: 0 }, total_tokens: 2 };
  return [['response.created', { response: shell }],
    ...items.flatMap((item, index) => [['response.output_item.added', { output_index: index, item }],
      ['response.output_item.done', { output_index: index, item }]]),
    ['response.completed', { response: { ...shell, status: 'completed', output: items, usage } }]];
}

const said = (text) => ({ type: 'message', id: 'msg_scripted', role: 'assistant', status: 'completed',
  content: [{ type: 'output_text', text, annotations: [] }] });

function outputText(output) {
  if (typeof output === 'string') return output;
  if (Array.isArray(output)) return output.filter((part) => part.type === 'input_text').map((part) => part.text).join('');
  return JSON.stringify(output);
}

function responsesAnswer(body, current) {
  const input = body.input ?? [];
  const last = input.at(-1);
  if (last?.type === 'function_call_output') {
    current.results.push({ text: outputText(last.output), raw: last });
    return response([said(`The tool said: ${outputText(last.output)}`)]);
  }
  const offered = (body.tools ?? []).find((tool) => tool.type === 'namespace' && tool.name === namespace);
  if (!offered?.tools?.some((tool) => tool.name === current.tool)) return response([said('Nothing to do.')]);
  const call = { type: 'function_call', id: 'fc_scripted', call_id: `call_${current.requests.length}`, namespace,
    name: current.tool, arguments: JSON.stringify(current.args), status: 'completed' };
  return response([call]);
}

export const responsesModel = () => serve('/v1/responses', responsesAnswer);
