// Stands in the hosts' configuration where the connector would: starts the connector with the same
// arguments and environment, passes every byte both ways unchanged, and writes what it saw to a log
// of JSON lines (the environment and the connector's pid, then each line each way, then its exit).
// The connector's standard error goes straight to LOG.stderr.
// Usage: node wire.mjs LOG CONNECTOR [ARG...]
import { spawn } from 'node:child_process';
import { appendFileSync, openSync } from 'node:fs';

const [log, connector, ...args] = process.argv.slice(2);
const note = (entry) => appendFileSync(log, `${JSON.stringify(entry)}\n`);

// A host may end its servers with SIGKILL, this wrapper among them. So the connector gets a process
// group of its own and its standard error a file, and every line is logged before it is passed on:
// whatever the host saw is in the log, and the connector, its input gone, still ends by itself.
const child = spawn(connector, args, { stdio: ['pipe', 'pipe', openSync(`${log}.stderr`, 'a')], detached: true });
note({ env: process.env, args, pid: child.pid });

// Splits a stream into lines for the log, then passes it on as it came.
function tap(from, to, direction) {
  let pending = '';
  from.on('data', (chunk) => {
    pending += chunk.toString('utf8');
    const lines = pending.split('\n');
    pending = lines.pop();
    for (const line of lines) note({ [direction]: line });
    to.write(chunk);
  });
  from.on('end', () => {
    if (pending) note({ [direction]: pending, unterminated: true });
    to.end();
  });
}

tap(process.stdin, child.stdin, 'in');
tap(child.stdout, process.stdout, 'out');
// A host that hangs up closes our pipes; the connector then sees its input end as it would.
child.stdin.on('error', () => {});
process.stdout.on('error', () => {});
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => child.kill(signal));
child.on('exit', (code, signal) => {
  note({ exit: code, signal });
  process.exit(code ?? 1);
});
