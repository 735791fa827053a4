#!/usr/bin/env bash
# Proves that two builds of defectkit behave alike: every command (check, verify, stats,
# export, check-solution, draw, and the command line's own answers: help, usage errors,
# refused targets) writes the same stdout, stderr, exit status and output files, byte for
# byte, on a few hundred small random sets made with defectgen (0 to 5 instances, 0 to 30
# defect types, objects beyond 2^24, seeds 0 and its like, runs that stop midway, refused
# answers), on damaged copies of them (a byte flipped, lines removed, doubled or cut, CRLF,
# NUL, the file cut, an extra instance, a header renumbered, an overlong line, the defects
# file gone or a folder in a file's place, and mixes of these) and on placements for each
# (feasible ones, faulty ones, malformed ones). Both builds run in one folder with the same
# relative names and the same argv[0], so that every message must match. Meant for a
# rewrite of the set readers: run it with the old build as BASE and the rewrite as NEW.
#
#   bash bench/kit_compare.sh BASE_BUILD NEW_BUILD [--sets N] [--seed S] [--reference]
#   bash bench/kit_compare.sh --base-rev c25f3e4 NEW_BUILD [--sets N] [--seed S] [--reference]
#
# A build folder holds defectgen and defectkit; --base-rev REV builds them from REV in a
# temporary worktree (removed after). The sets are made with BASE's defectgen. --reference
# adds the reference workload (answers 200 20000 1000 1000 20000 0.05 0.3 ..., 845 MB, its
# outputs compared by sha256), its small form (3 200 1000 1000 2000 ...) and a 105 MB defects
# file (which check reads in two parts) damaged about its middle. Prints one line
# per difference and `kit_compare: N runs, M differ`; exits 1 when M > 0. The same --seed
# makes the same sets. KIT_COMPARE_JOBS (default 2) runs that many sets at once;
# KIT_COMPARE_KEEP=1 keeps the work folder; KIT_COMPARE_LOG=FILE logs every run: its set,
# base exit status, seconds per build, command and first line of output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sets=300 seed=1 reference=0 base_rev='' builds=()
while [ $# -gt 0 ]; do
  case $1 in
    --sets) sets=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --reference) reference=1; shift ;;
    --base-rev) base_rev=$2; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) builds+=("$1"); shift ;;
  esac
done
work=$(mktemp -d)
cleanup() {
  if [ -n "$base_rev" ] && [ -d "$work/src" ]; then git -C "$root" worktree remove --force "$work/src"; fi
  if [ "${KIT_COMPARE_KEEP:-0}" = 1 ]; then echo "kit_compare: work folder kept: $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
if [ -n "$base_rev" ]; then
  [ ${#builds[@]} -eq 1 ] || { echo "usage: kit_compare.sh --base-rev REV NEW_BUILD [options]" >&2; exit 2; }
  echo "kit_compare: building $base_rev in $work/src" >&2
  git -C "$root" worktree add --quiet --detach "$work/src" "$base_rev"
  cmake -S "$work/src" -B "$work/base-build" -DCMAKE_BUILD_TYPE=Release -DDEFECTGEN_TESTS=OFF >/dev/null
  cmake --build "$work/base-build" -j2 --target defectgen defectkit >/dev/null
  builds=("$work/base-build" "${builds[0]}")
fi
[ ${#builds[@]} -eq 2 ] || { echo "usage: kit_compare.sh BASE_BUILD NEW_BUILD [--sets N] [--seed S] [--reference] [--base-rev REV]" >&2; exit 2; }
for b in "${builds[@]}"; do
  for p in defectgen defectkit; do [ -x "$b/$p" ] || { echo "kit_compare: no $b/$p" >&2; exit 2; }; done
done
maker=''
for m in "${builds[1]}/kit_placement_maker" "${builds[0]}/kit_placement_maker" "$root/build/kit_placement_maker"; do
  if [ -x "$m" ]; then maker=$m; break; fi
done
if [ "$reference" = 1 ] && [ -z "$maker" ]; then
  maker=$work/kit_placement_maker
  c++ -O2 -std=c++20 -o "$maker" "$root/bench/kit_placement_maker.cpp"
fi
python3 - "$(realpath "${builds[0]}")" "$(realpath "${builds[1]}")" "$sets" "$seed" "$reference" "$work" "$maker" \
  "${KIT_COMPARE_JOBS:-2}" <<'PY'
import concurrent.futures, hashlib, os, random, shutil, subprocess, sys, time
base, new, nsets, seed, reference, work, maker, jobs = sys.argv[1:]
BUILDS = (base, new)
log = open(os.environ['KIT_COMPARE_LOG'], 'a') if os.environ.get('KIT_COMPARE_LOG') else None

def answers(r):
    """Random answers: (tokens, the parameters a placement needs)."""
    ni = r.choice([0, -2, 1, 1, 1, 2, 2, 2, 3, 3, 4, 5, 5])
    no = r.choice([0, 1, 2, 2, 3, 3, 5, 8])
    nit = r.choice([0, 1, 3, 10, 10, 30, 30, r.randint(2, 60)])
    lo = r.choice([0.0001, 0.001, 0.01, 0.01, 0.05, 0.1]); hi = r.choice([lo, lo * 2, 0.15, 0.3, 0.3, 0.6, 0.9])
    kind = r.random()
    if kind < 0.12:  # beyond 2^24: single precision no longer holds every integer
        L = r.randint(16777217, 400000000); W = r.randint(1, (2**31 - 1) // L)
    elif kind < 0.26:  # elongated: the item repair fails in some runs
        L, W, nit, ni, lo, hi = 1000, 10, r.randint(50, 300), r.randint(2, 5), 0.001, 0.01
    else:
        L = r.choice([1, 2, 37, 46340] + [r.randint(20, 3000)] * 6); W = r.choice([1, 3, 23] + [r.randint(20, 3000)] * 6)
    if r.random() < 0.5: L, W = W, L
    nt = r.choice([0, 0, -1, 1, 2, 3, 5, 8, 9, 12, 30])
    types = [(r.randint(1, max(1, L // r.choice([1, 2, 10, 100]))), r.randint(1, max(1, W // r.choice([1, 2, 10, 100]))))
             for _ in range(max(nt, 0))]
    mn, mx = r.choice([-3, 0, 0, 1, 2, 5]), r.choice([0, 1, 3, 5, 10, 1000 if no <= 1 and ni <= 2 else 40])
    if r.random() < 0.04:  # past the reader's 1 MiB buffer
        ni, no, nit, nt, mn, mx, types = 2, r.randint(100, 200), 200, 3, 50, 150, [(1, 1), (2, 2), (3, 1)]
        L, W, lo, hi = r.randint(100, 3000), r.randint(100, 3000), 0.001, 0.05
    names = r.choice([('items.txt', 'defects.txt'), ('i', 'd'), ('gi.txt', 'gd.txt')])
    sd = r.choice([0, 2147483647, -2147483647, -2147483648, 12, 31] + [r.randint(1, 99999), r.randint(-2**31, 2**31 - 1)] * 5)
    t = [ni, no, L, W, nit, lo, hi, nt] + [v for ty in types for v in ty] + [mn, mx, names[0]]
    t = [str(v) for v in t + ([names[1]] if nt > 0 else []) + [sd, 0]]
    if r.random() < 0.05:  # answers that defectgen refuses
        i = r.randrange(len(t))
        t = r.choice([t[:i], t[:i] + ['x'] + t[i + 1:], t[:2] + ['0'] + t[3:], t[:5] + ['0.5', '0.1'] + t[7:],
                      t[:i] + ['9' * 12] + t[i + 1:], t[:-3] + ['n' * 80] + t[-2:]])
    return t, dict(ni=ni, no=no, L=L, W=W, nt=nt, I=names[0], D=names[1] if nt > 0 else None)

def blocks(text, no):
    """The instances of a pristine pair of files: [(items, objects)], as whole numbers."""
    items, cur = [], []
    for ln in text[0].split('\n')[:-1]:
        if ln: cur.append([int(float(v)) for v in ln.split('\t')])
        else: items.append(cur); cur = []
    objs, lines, i = [], text[1].split('\n'), 0
    while i < len(lines) and lines[i].startswith('instance:'):
        i += 2; inst = []
        for _ in range(no):
            o = []
            while i < len(lines) and lines[i]: o.append([int(float(v)) for v in lines[i].split('\t')]); i += 1
            inst.append(o); i += 1
        objs.append(inst); i += 1
    return [(it, objs[k] if k < len(objs) else [[] for _ in range(no)]) for k, it in enumerate(items)]

def hit(a, b): return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]

def placement(items, objs, L, W, echo):
    """A feasible placement: items bottom-left on the first objects, past defects and each other."""
    rows, used, left = ['TYPE,ID,COPIES,BIN,X,Y,LX,LY' + (',GROUP_ID' if echo else '')], 0, list(range(len(items)))
    for o, defs in enumerate(objs[:3]):
        if len(defs) > 300: continue
        taken = [d[:4] for d in defs]; rows.append(f'BIN,{o},1,{used},0,0,{L},{W}')
        for t in list(left):
            l, w = items[t][0], items[t][1]
            for x, y in sorted({(0, 0)} | {(q[2], q[1]) for q in taken} | {(q[0], q[3]) for q in taken}, key=lambda p: (p[1], p[0])):
                if x + l <= L and y + w <= W and not any(hit((x, y, x + l, y + w), q) for q in taken):
                    taken.append((x, y, x + l, y + w)); left.remove(t); rows.append(f'ITEM,{t},1,{used},{x},{y},{l},{w}'); break
        if echo: rows += [f'DEFECT,{j},,{used},{d[0]},{d[1]},{d[2] - d[0]},{d[3] - d[1]}' for j, d in enumerate(defs)]
        used += 1
    return rows[:1] + [row + (',0' if echo else '') for row in rows[1:]]

def faulty(r, rows, items, objs, L, W):
    placed, rows = [x for x in rows[1:] if x.startswith('ITEM')] or ['ITEM,0,1,0,0,0,1,1'], list(rows)
    for _ in range(r.randint(1, 3)):
        f = r.choice(placed).split(',')
        d = r.choice([q for o in objs for q in o] or [[0, 0, 1, 1]])
        t = r.randrange(len(items) + 2)
        rows.insert(r.randint(1, len(rows)), r.choice([
            ','.join(f[:1] + [str(t)] + f[2:]), f'ITEM,{f[1]},1,{f[3]},{d[0]},{d[1]},{f[6]},{f[7]}',
            f'ITEM,{f[1]},1,{f[3]},{L - 1},{W - 1},{f[6]},{f[7]}', ','.join(f[:6] + [f[7], f[6]]), f'ITEM,{t},1,9,0,0,1,1',
            f'BIN,0,1,{r.randint(0, 5)},0,0,{L},{W}', f'BIN,{len(objs) + 1},1,7,0,0,{L},{W}', f'BIN,1,2,8,0,0,{L + 1},{W}',
            f'DEFECT,0,,0,{d[0]},{d[1]},{d[2] - d[0] + 1},{d[3] - d[1]}', f'DEFECT,{r.randint(0, 1001)},,{r.randint(0, 9)},0,0,1,1',
            'ITEM,1,1,0,0,0,1', 'ITEM,x,1,0,0,0,1,1', 'THING,0,1,0,0,0,1,1', 'ITEM,0,2,0,0,0,1,1', 'ITEM,0,1,0,-1,0,1,1',
            'ITEM,0,1,0,0,0,99999999999999999999,1', '', 'ITEM,0,1,0,0,0,1,1\r', 'ITEM' + ',1' * 600, 'TYPE,ID,COPIES,BIN,X,Y,LX,LY']))
    if r.random() < 0.1: rows[0] = r.choice(['TYPE,ID,BIN,X,Y,LX,LY', 'type,id,copies,bin,x,y,lx,ly', ''])
    return rows

def damage(r, d, m):
    """Damages one to three of the set's files in place."""
    for _ in range(r.choice([1, 1, 1, 2, 3])):
        name = r.choice([m['I']] + [m['D']] * 2 if m['D'] else [m['I']]); p = os.path.join(d, name)
        if not os.path.isfile(p): continue
        b = bytearray(open(p, 'rb').read()); n = max(len(b), 1); lines = b.split(b'\n'); k = r.randrange(len(lines))
        op = r.choice('flip rm dup trunc crlf crlfall nul cut extra header long gone folder'.split())
        if op == 'flip' and b: b[r.randrange(len(b))] ^= 1 << r.randrange(8)
        elif op == 'rm': del lines[k]; b = b'\n'.join(lines)
        elif op == 'dup': lines.insert(k, lines[k]); b = b'\n'.join(lines)
        elif op == 'trunc': lines[k] = lines[k][:r.randrange(len(lines[k]) + 1)]; b = b'\n'.join(lines)
        elif op == 'crlf': lines[k] += b'\r'; b = b'\n'.join(lines)
        elif op == 'crlfall': b = b.replace(b'\n', b'\r\n')
        elif op == 'nul': b.insert(r.randrange(n), 0)
        elif op == 'cut': b = b[:r.randrange(n)]
        elif op == 'extra' and name == m['D']: b += b'instance: %d\n' % (b.count(b'instance:') + 1) + (b.split(b'instance: ') + [b'1\n\n'])[1].split(b'\n', 1)[-1]
        elif op == 'extra': b += b.split(b'\n\n')[0] + b'\n\n'
        elif op == 'header': b = b.replace(b'instance: %d\n' % r.randint(1, 3), b'instance: %d\n' % r.choice([0, 2, 7, 12345678901]), 1)
        elif op == 'long': lines.insert(k, r.choice([b'1', b'12.000000\t', b'instance: 1']) * r.randint(300, 3000)); b = b'\n'.join(lines)
        os.unlink(p)
        if op == 'folder': os.mkdir(p); break
        if op != 'gone': open(p, 'wb').write(b)

def make(i):
    """Set i, and its damaged copy for about half the sets: [(folder, commands)]."""
    r = random.Random(f'{seed}/{i}'); t, m = answers(r); d = os.path.join(work, f's{i:03d}')
    os.makedirs(d); sep = r.choice([' ', '\n', ' \n'])
    open(os.path.join(d, 'a.txt'), 'w').write(sep.join(t) + '\n')
    subprocess.run([os.path.join(base, 'defectgen')], cwd=d, input=(' '.join(t) + '\n').encode(), stdout=subprocess.DEVNULL, timeout=120)
    files = [open(os.path.join(d, n), errors='replace').read() if n and os.path.isfile(os.path.join(d, n)) else '' for n in (m['I'], m['D'])]
    inst = blocks(files, max(m['no'], 0)); k = r.randint(1, max(1, len(inst))) if r.random() < 0.9 else len(inst) + 1
    items, objs = inst[k - 1] if k <= len(inst) else ([], [])
    good = [placement(items, objs, m['L'], m['W'], e) for e in (False, True)]
    places = good + [faulty(r, good[0], items, objs, m['L'], m['W'])]
    for j, rows in enumerate(places): open(os.path.join(d, f'p{j}.csv'), 'w', newline='').write('\n'.join(rows) + '\n')
    S, K = ['a.txt'], ['--instance', str(k)]
    O = ['--object', f"{m['L']}x{m['W']}", '--items', m['I']] + (['--defects', m['D']] if m['D'] else ['--objects', str(max(m['no'], 0))])
    cmds = [['check'] + S, ['check'] + O, ['verify'] + S, ['verify'] + S + ['--items', m['I']] + (['--defects', m['D']] if m['D'] else []),
            ['stats'] + S, ['stats', '--per-instance'] + S, ['stats', '--json'] + S, ['stats', '--json', '--per-instance'] + O,
            ['export'] + S + ['--format', 'jsonl', '--out', 'out.jsonl'], ['export'] + O + ['--format', 'jsonl', '--out', 'out.jsonl'] + K,
            ['export'] + S + ['--format', 'packingsolver', '--out', 'ps'],
            ['export'] + O + ['--format', 'packingsolver', '--out', 'ps/sub'] + K + ['--allow-rotation', '--objective', 'bin-packing']]
    cmds += [['check-solution'] + S + K + ['--solution', f'p{j}.csv'] for j in range(3)]
    cmds += [['check-solution'] + O + K + ['--solution', 'p2.csv', '--allow-rotation'], ['draw'] + S + K + ['--out', 'pic.svg'],
             ['draw'] + S + K + ['--out', 'pic.svg', '--solution', r.choice(['p0.csv', 'p2.csv']), '--max-objects', str(r.randint(1, 3))]]
    out = [(d, [(c, {}) for c in cmds])]
    if r.random() < 0.5:
        shutil.copytree(d, d + '-damaged'); damage(r, d + '-damaged', m); out.append((d + '-damaged', out[0][1]))
    return out

def cli():
    """The command line itself, and the targets an export refuses, on the example set."""
    d = os.path.join(work, 'cli'); os.makedirs(d)
    t = '1 2 100 100 5 0.01 0.15 3 5 4 10 10 20 3 1 3 items.txt defects.txt 12 0\n'
    open(os.path.join(d, 'a.txt'), 'w').write(t)
    subprocess.run([os.path.join(base, 'defectgen')], cwd=d, input=t.encode(), stdout=subprocess.DEVNULL)
    E = ['export', 'a.txt', '--format']
    c = [[], ['--help'], ['--version'], ['frobnicate'], ['check'], ['check', 'a.txt', '--object', '10x10'], ['check', '--object', '10'],
         ['check', '--object', '0x5', '--items', 'items.txt'], ['check', '--object', '100x100'], ['verify'], ['stats', 'missing.txt'],
         E + ['xml', '--out', 'o'], E + ['jsonl'], E + ['jsonl', '--out', 'items.txt'], E + ['jsonl', '--out', '.'],
         E + ['jsonl', '--out', 'a.txt', '--force'], E + ['jsonl', '--out', '/dev/null'], E + ['jsonl', '--out', 'out.jsonl', '--instance', '2'],
         ['check-solution', 'a.txt', '--instance', '1', '--solution', 'missing.csv'], ['check-solution', 'a.txt', '--instance', '1', '--solution', '.'],
         ['check-solution', 'a.txt', '--instance', '0', '--solution', 'x'], ['draw', 'a.txt', '--instance', '1', '--out', 'items.txt'],
         ['draw', 'a.txt', '--instance', '1', '--out', 'nofolder/pic.svg'], ['draw', 'a.txt', '--instance', '1', '--out', 'p.svg', '--max-objects', '0']]
    c = [(x, {}) for x in c] + [(x + ['--help'], {}) for x in (['check'], ['verify'], ['stats'], ['export'], ['check-solution'], ['draw'])]
    c += [(E + ['jsonl', '--out', 'out.jsonl'] + f, {'out.jsonl': b'x\n'}) for f in ([], ['--force'])]
    c += [(E + ['packingsolver', '--out', 'ps'] + f, {'ps/old.txt': b'x\n'}) for f in ([], ['--force'])]
    c += [(E + ['packingsolver', '--out', 'out.jsonl'], {'out.jsonl': b''}), (E + ['jsonl', '--out', 'ps'], {'ps/': None})]
    return [(d, c)]

def snapshot(d, inputs, big):
    """Every file or folder in d that is not an input: its bytes, or its sha256 when large."""
    snap = {}
    for top, dirs, files in os.walk(d):
        rel = os.path.relpath(top, d)
        for n in sorted(dirs + files):
            p = os.path.normpath(os.path.join(rel, n))
            if p in inputs or (rel == '.' and n in inputs): continue
            full = os.path.join(top, n)
            if os.path.islink(full): snap[p] = 'link ' + os.readlink(full)
            elif os.path.isdir(full): snap[p] = 'folder'
            elif os.path.getsize(full) > big:
                h = hashlib.sha256()
                with open(full, 'rb') as f:
                    for chunk in iter(lambda: f.read(1 << 20), b''): h.update(chunk)
                snap[p] = 'sha256 ' + h.hexdigest()
            else: snap[p] = open(full, 'rb').read()
        dirs[:] = [x for x in dirs if os.path.normpath(os.path.join(rel, x)) not in inputs]
    return snap

def clean(d, inputs):
    for n in os.listdir(d):
        if n not in inputs:
            p = os.path.join(d, n); shutil.rmtree(p) if os.path.isdir(p) and not os.path.islink(p) else os.unlink(p)

def short(a, b):
    if not isinstance(a, bytes) or not isinstance(b, bytes): return f'base {str(a)[:70]!r}, new {str(b)[:70]!r}'
    al, bl = (x.decode('utf-8', 'backslashreplace').splitlines(True) for x in (a, b))
    i = next((k for k, (x, y) in enumerate(zip(al, bl)) if x != y), min(len(al), len(bl)))
    cut = lambda v, k: repr(v[k][:150]) if k < len(v) else '(end)'
    return f'line {i + 1}: -{cut(al, i)} +{cut(bl, i)} ({len(al)} vs {len(bl)} lines, {len(a)} vs {len(b)} bytes)'

def compare(d, cmds, timeout=300, big=1 << 20):
    inputs = set(os.listdir(d)); lines = []
    for args, pre in cmds:
        res, secs = [], []
        for b in BUILDS:
            clean(d, inputs)
            for p, content in pre.items():
                os.makedirs(os.path.dirname(os.path.join(d, p)), exist_ok=True)
                if content is not None: open(os.path.join(d, p), 'wb').write(content)
            try:
                t0 = time.time(); q = subprocess.run(['defectkit'] + args, executable=os.path.join(b, 'defectkit'), cwd=d, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
                r = [q.returncode, q.stdout, q.stderr]
            except subprocess.TimeoutExpired: r = ['timeout', b'', b'']
            res.append(r + [snapshot(d, inputs, big)]); secs.append(f'{time.time() - t0:.3f}')
        clean(d, inputs)
        (rb, ob, eb, fb), (rn, on, en, fn) = res
        what = [('exit status', rb, rn), ('stdout', ob, on), ('stderr', eb, en)]
        what += [('file ' + p, fb.get(p, 'absent'), fn.get(p, 'absent')) for p in sorted(set(fb) | set(fn))]
        diff = [f'{" ".join(["defectkit"] + args)} [set {os.path.basename(d)}]: {w} differs: {short(x, y)}' for w, x, y in what if x != y]
        lines.append((diff, f'{os.path.basename(d)}\t{rb}\t{" ".join(secs)}\t{" ".join(args)}\t{(eb or ob).decode(errors="replace").splitlines()[:1]}\n'))
    return lines

def reference_set(name, counts):
    """The reference workload (200 20000 ... 20000: 845 MB) and a small one of the same kind."""
    d = os.path.join(work, name); os.makedirs(d)
    t = counts + ' 0.05 0.3 3 5 4 10 10 20 3 0 8 items.txt defects.txt 12 0\n'
    open(os.path.join(d, 'answers.txt'), 'w').write(t)
    subprocess.run([os.path.join(base, 'defectgen')], cwd=d, input=t.encode(), stdout=subprocess.DEVNULL, check=True)
    with open(os.path.join(d, 'placement.csv'), 'wb') as f:  # exit 1 when not every item found room
        subprocess.run([maker, 'items.txt', 'defects.txt', '1000', '1000', '10', '1'], cwd=d, stdout=f, stderr=subprocess.DEVNULL)
    S, K = ['answers.txt'], ['--instance', '1']
    c = [['check'] + S, ['verify'] + S, ['stats'] + S, ['stats', '--json'] + S, ['export'] + S + ['--format', 'jsonl', '--out', 'out.jsonl'],
         ['export'] + S + ['--format', 'packingsolver', '--out', 'ps'], ['check-solution'] + S + K + ['--solution', 'placement.csv'],
         ['draw'] + S + K + ['--out', 'pic.svg'], ['draw'] + S + K + ['--out', 'pic.svg', '--solution', 'placement.csv']]
    return compare(d, [(x, {}) for x in c], timeout=1800, big=0)

def split_sets():
    """A defects file above 64 MiB, which check reads in two parts, damaged about its middle."""
    d0 = os.path.join(work, 'split'); os.makedirs(d0)
    t = '30 20000 1000 1000 20000 0.05 0.3 3 5 4 10 10 20 3 0 8 items.txt defects.txt 12 0\n'
    open(os.path.join(d0, 'answers.txt'), 'w').write(t)
    subprocess.run([os.path.join(base, 'defectgen')], cwd=d0, input=t.encode(), stdout=subprocess.DEVNULL, check=True)
    d = open(os.path.join(d0, 'defects.txt'), 'rb').read()
    n = len(d); at = d.find(b'\n\ninstance: ', n // 2)
    line = lambda f: d.find(b'\n', int(n * f)) + 1
    damaged = {'clean': d, 'first-half': d[:line(.25)] + b'x' + d[line(.25):],
               'second-half': d[:line(.75)] + b'1.000000\t1.000000\n' + d[line(.75):],
               'at-the-split': d[:at + 1] + d[at + 2:], 'cut': d[:line(.6) + 4],
               'renumbered': d[:at + 2] + b'instance: 99' + d[d.find(b'\n', at + 2):],
               'object-too-many': d[:d.find(b'\n\ninstance: ', at + 100) + 1] + b'\n' + d[d.find(b'\n\ninstance: ', at + 100) + 1:]}
    S = ['answers.txt']; O = ['--object', '1000x1000', '--items', 'items.txt', '--defects', 'defects.txt']
    out = []
    for name, bytes_ in damaged.items():
        open(os.path.join(d0, 'defects.txt'), 'wb').write(bytes_)
        out += compare(d0, [(['check'] + S, {}), (['check'] + O, {}), (['stats'] + S, {})], timeout=600, big=0)
    return out

runs = differ = 0
def report(result):
    global runs, differ
    for diff, entry in result:
        runs += 1; differ += bool(diff)
        if log: log.write(entry)
        for line in diff: print(line, flush=True)

def one(i): return [line for d, cmds in make(i) for line in compare(d, cmds)]
for d, cmds in cli(): report(compare(d, cmds))
with concurrent.futures.ThreadPoolExecutor(max(1, int(jobs))) as pool:
    for result in pool.map(one, range(int(nsets))): report(result)
if reference == '1':
    for name, counts in (('reference', '200 20000 1000 1000 20000'), ('reference-small', '3 200 1000 1000 2000')): report(reference_set(name, counts))
    report(split_sets())
print(f'kit_compare: {runs} runs, {differ} differ')
sys.exit(1 if differ else 0)
PY
