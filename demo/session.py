#!/usr/bin/env python3
"""The quick start: one short session with the connector, as an agent's MCP client would have it.

Starts vesk-demo-host on a socket in a fresh temporary folder, starts vesk-connector with pipes
and the socket's path in its environment, sends initialize, tools/list, one call of each tool and
one call the host refuses, prints every request and answer, then stops both. Exits non-zero when
anything is not as it should be, so the test suite runs it too. Standard library only.
"""
import argparse
import json
import os
import select
import subprocess
import sys
import tempfile
import textwrap

PATIENCE = 30  # seconds to wait for any one answer before calling it a failure

CALLS = [
    ("initialize", {"protocolVersion": "2025-06-18", "capabilities": {},
                    "clientInfo": {"name": "quick-start", "version": "1.0"}}, None),
    ("tools/list", {}, None),
    ("tools/call", {"name": "vesk_list_chats", "arguments": {}}, False),
    ("tools/call", {"name": "vesk_send_to_chat",
                    "arguments": {"chat": "api", "message": "Does GET /orders/{id}/lines cope with an empty basket?"}},
     False),
    ("tools/call", {"name": "vesk_read_chat", "arguments": {"chat": "api", "last_n": 3}}, False),
    ("tools/call", {"name": "vesk_send_to_chat", "arguments": {"chat": "billing", "message": "Hello?"}}, True),
]


class Failed(Exception):
    pass


def show(heading, body=""):
    print(heading)
    if body:
        print(textwrap.indent(body, "    "))


def line_from(stream, what):
    """One line from a child's pipe, within PATIENCE seconds."""
    ready, _, _ = select.select([stream], [], [], PATIENCE)
    if not ready:
        raise Failed(f"{what} said nothing for {PATIENCE} s")
    line = stream.readline()
    if not line:
        raise Failed(f"{what} ended early")
    return line.decode("utf-8", "replace").rstrip("\n")


def start_host(host, socket):
    process = subprocess.Popen([host, socket], stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    said = line_from(process.stderr, "the demo host")
    show(f"[host] {said}")
    if "listening on" not in said:
        raise Failed("the demo host did not start")
    return process


def start_connector(connector, socket):
    # MCP clients start servers with a small environment of their own, so the path goes in it.
    environment = {"VESK_BRIDGE_SOCKET": socket, "PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    command = [connector, "--chat", "web"]
    show(f"[client] starts: VESK_BRIDGE_SOCKET={socket} {' '.join(command)}\n")
    return subprocess.Popen(command, env=environment, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def summary(method, answer):
    """What a person wants to see of an answer."""
    result = answer.get("result", {})
    if method == "initialize":
        return (f"protocol {result.get('protocolVersion')}, server {json.dumps(result.get('serverInfo'))}\n"
                f"instructions: {result.get('instructions')}")
    if method == "tools/list":
        return "\n".join(f"{tool['name']}: {tool['description'][:90]}..." for tool in result.get("tools", []))
    content = result.get("content") or [{}]
    return f"isError {json.dumps(result.get('isError'))}, text:\n" + textwrap.indent(content[0].get("text", ""), "  ")


def exchange(connector, number, method, params, refusal):
    request = {"jsonrpc": "2.0", "id": number, "method": method, "params": params}
    line = json.dumps(request, separators=(",", ":"), ensure_ascii=False)
    show(f"[{number}] agent -> connector", line)
    connector.stdin.write((line + "\n").encode())
    connector.stdin.flush()
    answer = json.loads(line_from(connector.stdout, "the connector"))
    show(f"[{number}] connector -> agent", summary(method, answer))
    print()
    if answer.get("id") != number or "result" not in answer:
        raise Failed(f"answer {number} is not a result for it: {answer}")
    if refusal is not None and answer["result"].get("isError") is not refusal:
        raise Failed(f"answer {number} should have isError {refusal}")


def stop(connector, host, socket):
    connector.stdin.close()
    status = connector.wait(PATIENCE)
    errors = connector.stderr.read()
    show(f"[client] closed the connector's input; it exited with status {status}")
    host.terminate()
    show(f"[host] {line_from(host.stderr, 'the demo host')}")
    host.wait(PATIENCE)
    if status != 0 or errors:
        raise Failed(f"the connector exited with {status} and wrote {errors!r} to standard error")
    if os.path.exists(socket):
        raise Failed("the demo host left its socket file behind")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--connector", default="build/vesk-connector")
    parser.add_argument("--host", default="build/demo/vesk-demo-host")
    options = parser.parse_args()
    sys.stdout.reconfigure(encoding="utf-8", errors="replace")
    with tempfile.TemporaryDirectory(prefix="vesk-demo-") as folder:
        socket = os.path.join(folder, "bridge.sock")
        host = connector = None
        try:
            host = start_host(options.host, socket)
            connector = start_connector(options.connector, socket)
            for number, (method, params, refusal) in enumerate(CALLS, start=1):
                exchange(connector, number, method, params, refusal)
            stop(connector, host, socket)
        except (Failed, OSError, ValueError, subprocess.TimeoutExpired) as problem:
            print(f"quick start failed: {problem}", file=sys.stderr)
            for process in (connector, host):
                if process and process.poll() is None:
                    process.kill()
            return 1
    print(f"Quick start done: {len(CALLS)} requests, each answered as expected.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
