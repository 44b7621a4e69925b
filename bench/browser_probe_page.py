#!/usr/bin/env python3
"""Helper of bench/browser-probe.sh (standard library only).

  serve DIR        serve a page with one focused <textarea> on 127.0.0.1 (free port, written to
                   DIR/port); every input event POSTs the textarea's value, kept in DIR/value.txt
  list FILE        write the list Keyquill loads (UTF-8, CR LF) and FILE.expected.json, the text each
                   line should leave in the textarea; prints the total length after each line
  wait DIR N SECS  wait until DIR/value.txt holds N code points and stops growing, or stays
                   unchanged for SECS seconds; prints the length reached
  score FILE DIR   compare DIR/press-K.txt (the value after press K) with the expected text;
                   prints "exact lost extra expected" and writes DIR/score.txt
  table TSV        print browser x layout from lines "browser layout run exact lost extra expected"
"""
import http.server
import json
import os
import sys
import time

PAGE = """<!doctype html><html><head><meta charset="utf-8"><title>kq-probe</title>
<style>html,body{margin:0;height:100%}textarea{box-sizing:border-box;width:100%;height:100%;
font:14px monospace}</style></head><body><textarea id="t" autofocus spellcheck="false"
autocomplete="off"></textarea><script>
const t = document.getElementById('t');
let busy = false, again = false;
function send() {            // one request in flight; the newest value always goes last
  if (busy) { again = true; return; }
  busy = true; again = false;
  fetch('/value', {method: 'POST', body: t.value}).finally(() => { busy = false; if (again) send(); });
}
t.addEventListener('input', send);
for (const e of ['focus', 'blur']) t.addEventListener(e, () => fetch('/event', {method: 'POST', body: e}));
t.focus();
</script></body></html>"""


def serve(folder):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = PAGE.encode()
            self.send_response(200)
            self.send_header('Content-Type', 'text/html; charset=utf-8')
            self.send_header('Content-Length', str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_POST(self):
            data = self.rfile.read(int(self.headers.get('Content-Length', 0)))
            if self.path == '/value':
                with open(os.path.join(folder, 'value.tmp'), 'wb') as f:
                    f.write(data)
                os.replace(os.path.join(folder, 'value.tmp'), os.path.join(folder, 'value.txt'))
            else:
                with open(os.path.join(folder, 'events.log'), 'ab') as f:
                    f.write(b'%.3f %s\n' % (time.time(), data))
            self.send_response(204)
            self.end_headers()

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
    with open(os.path.join(folder, 'port'), 'w') as f:
        f.write(str(server.server_address[1]))
    server.serve_forever()


def long_line(n=2000):
    words = ('the quick brown fox jumps over a lazy dog while seven wizards quietly judge '
             'boxing; pack my box with five dozen liquor jugs, then 42 more!').split()
    marks = [',', '.', ';', ':', '!', '?', ' -', '\'s', '"', '/']
    out, i = '', 0
    while len(out) < n:
        out += words[i % len(words)] + (marks[i % 7] if i % 3 == 0 else '') + ' '
        i += 1
    return out[:n - 1] + '.'


def write_list(path):
    # (line as written in the file, text it should type); each line ends with {ENTER}
    lines = [('!"#$&\'*,-./:;<=>?@[\\]_`|{+}{^}{%}{~}{{}{}}', '!"#$&\'*,-./:;<=>?@[\\]_`|+^%~{}'),
             ('é ü ß € ñ ç',) * 2, ('→ ← ✓ 日本語 Ωλ',) * 2, ('😀',) * 2,
             (long_line(),) * 2, ('a(b)c [x] {+}1', 'a(b)c [x] +1')]
    # Keyquill's list files end lines with CR LF; a lone LF would stay inside its line.
    with open(path, 'w', encoding='utf-8', newline='') as f:
        f.write(''.join(src + '{ENTER}\r\n' for src, _ in lines))
    expected = [typed + '\n' for _, typed in lines]
    with open(path + '.expected.json', 'w', encoding='utf-8') as f:
        json.dump(expected, f)
    print(' '.join(str(sum(len(e) for e in expected[:k])) for k in range(1, len(expected) + 1)))


def read(path):
    try:
        with open(path, encoding='utf-8', errors='replace') as f:
            return f.read()
    except FileNotFoundError:
        return ''


def wait(folder, target, idle):
    path, last, since, start = os.path.join(folder, 'value.txt'), None, time.time(), time.time()
    while time.time() - start < 300:
        now = read(path)
        if now != last:
            last, since = now, time.time()
        quiet = time.time() - since
        if (len(now) >= target and quiet >= 0.5) or quiet >= idle:
            break
        time.sleep(0.05)
    print(len(last))


def lcs(a, b):
    row = [0] * (len(b) + 1)
    for ca in a:
        prev_diag = 0
        for j, cb in enumerate(b):
            keep = row[j + 1]
            row[j + 1] = prev_diag + 1 if ca == cb else max(row[j + 1], row[j])
            prev_diag = keep
    return row[-1]


def score(expected_file, folder):
    with open(expected_file, encoding='utf-8') as f:
        expected = json.load(f)
    lost = extra = 0
    report, before = [], ''
    for k, want in enumerate(expected, 1):
        after = read(os.path.join(folder, 'press-%d.txt' % k))
        got = after[len(before):] if after.startswith(before) else after  # what this press added
        common = lcs(want, got)
        lost += len(want) - common
        extra += len(got) - common
        report.append('press %d: expected %d got %d lost %d extra %d%s\n  want %r\n  got  %r'
                      % (k, len(want), len(got), len(want) - common, len(got) - common,
                         '' if want == got else '  <-- differs', want[:120], got[:120]))
        before = after
    total = sum(len(w) for w in expected)
    exact = int(read(os.path.join(folder, 'press-%d.txt' % len(expected))) == ''.join(expected))
    with open(os.path.join(folder, 'score.txt'), 'w', encoding='utf-8') as f:
        f.write('\n'.join(report) + '\n')
    print(exact, lost, extra, total)


def table(tsv):
    cells = {}
    for line in open(tsv):
        browser, layout, _run, exact, lost, extra, total = line.split()
        c = cells.setdefault((browser, layout), [0, 0, 0, 0, 0])
        for i, v in enumerate((int(exact), 1, int(lost), int(extra), int(total))):
            c[i] += v
    print('%-12s %-6s %10s %22s %8s' % ('browser', 'layout', 'exact/runs', 'lost of all (cp)', 'extra'))
    for (browser, layout), (exact, runs, lost, extra, total) in cells.items():
        print('%-12s %-6s %10s %22s %8d' % (browser, layout, '%d/%d' % (exact, runs),
                                           '%d/%d (%.1f%%)' % (lost, total, 100.0 * lost / total), extra))


if __name__ == '__main__':
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == 'serve':
        serve(args[0])
    elif cmd == 'list':
        write_list(args[0])
    elif cmd == 'wait':
        wait(args[0], int(args[1]), float(args[2]))
    elif cmd == 'score':
        score(args[0], args[1])
    elif cmd == 'table':
        table(args[0])
    else:
        sys.exit(__doc__)
