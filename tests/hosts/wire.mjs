// Stands in the hosts' configuration where the connector would: starts the connector with the same
// arguments and environment, passes every byte both ways unchanged, and writes what it saw to a log
// of JSON lines (the environment, each line each way, the connector's standard error, its exit).
// Usage: node wire.mjs LOG CONNECTOR [ARG...]
import { spawn } from 'node:child_process';
import { appendFileSync } from 'node:fs';

const [log, connector, ...args] = process.argv.slice(2);
const note = (entry) => appendFileSync(log, `${JSON.stringify(entry)}\n`);

note({ env: process.env, args });
const child = spawn(connector, args, { stdio: ['pipe', 'pipe', 'pipe'] });

// Splits a stream into lines for the log while passing it on as it came.
function tap(from, to, direction) {
  let pending = '';
  from.on('data', (chunk) => {
    to?.write(chunk);
    pending += chunk.toString('utf8');
    const lines = pending.split('\n');
    pending = lines.pop();
    for (const line of lines) note({ [direction]: line });
  });
  from.on('end', () => {
    if (pending) note({ [direction]: pending, unterminated: true });
    if (direction === 'in') child.stdin.end();
  });
}

tap(process.stdin, child.stdin, 'in');
tap(child.stdout, process.stdout, 'out');
child.stderr.on('data', (chunk) => note({ stderr: chunk.toString('utf8') }));
// A host that hangs up closes our pipes; the connector then sees its input end as it would.
child.stdin.on('error', () => {});
process.stdout.on('error', () => {});
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) process.on(signal, () => child.kill(signal));
child.on('exit', (code, signal) => {
  note({ exit: code, signal });
  process.exit(code ?? 1);
});
