#!/usr/bin/python3
"""Runs every benchmark of the project and reports them as one table and one JSON file.

Called by bench/run.sh, which builds what it needs first. Sections:

  engine   our generate path against llama-bench on the speed-test model, same threads, same
           prompt and generation lengths, the two run alternately; medians and the ratio
  paired   the same comparison inside one process, alternating every few seconds: our
           generate path against llama-bench's bare decode loops on the server's context and
           on a context made as llama-bench makes it; shows what our path and what the
           server's context settings each cost, free of the machine's slower minutes
  threads  our prompt and generation speed at 1, 2, ... threads up to the processor count
  reuse    prefix reuse over a 50-paragraph document: prompt tokens decoded against
           submitted, and the time saved against a run without reuse
  parallel aggregate generation with 1, 2, 4 and 8 prompts decoded together, and the
           50-paragraph document at 1 and at the default, with how many greedy answers agree
  memory   peak resident memory after load, context and one call (1 and 4 sequences), and
           the time of making a context and of emptying it for the next call
  docs     parsing, pipeline and write-back of large documents with an instant answer,
           against the model time the same document would take; DOCX read and write
           against python-docx
  startup  time from process start to the reply to initialize, and peak RSS before and
           after the model is loaded

Results: bench/results/<time>.json, bench/results/latest.json and bench/results/latest.md.
"""

import argparse
import datetime
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CACHE = ROOT / ".cache"
RESULTS = ROOT / "bench" / "results"
SPEED_MODEL = CACHE / "models" / "speed-4b-q4_k_m.gguf"
LLAMA_BENCH = CACHE / "llama-bench-run" / "llama-bench"
PYTHON = "/usr/bin/python3"
SECTIONS = ["engine", "paired", "threads", "reuse", "parallel", "memory", "docs", "startup"]


def log(message):
    print(f"[bench] {message}", file=sys.stderr, flush=True)


def median(values):
    return statistics.median(values) if values else None


def load_average():
    return os.getloadavg()[0]


def run_json(command, env=None):
    """Runs a command that prints one JSON object as its last stdout line."""
    out = subprocess.run(command, check=True, capture_output=True, text=True, env=env)
    return json.loads(out.stdout.strip().splitlines()[-1])


def timed_run(command):
    """Whole-process wall time and peak RSS (KiB) of a command, with its stdout."""
    with tempfile.NamedTemporaryFile("r") as timing:
        out = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", timing.name, *command],
                             check=True, capture_output=True, text=True)
        seconds, kib = timing.read().split()
    return float(seconds), int(kib), out.stdout


# --- a quiet machine -------------------------------------------------------------------------
#
# The engine's threads wait for each other at every step of the model, so a process that
# takes a core away for a moment stalls all of them; on a busy machine both sides of a
# comparison lose several times their speed, by different amounts. Each measured run is
# therefore started on an idle machine, the CPU time other processes took meanwhile is
# accounted for, and a run disturbed by more than QUIET_SHARE of the machine is repeated.

CPUS = os.cpu_count() or 1
QUIET_SHARE = 0.05
MAX_TRIES = 4
QUIET_WAIT_S = 1800


def busy_seconds():
    """CPU seconds the whole machine has spent busy (stolen time included)."""
    with open("/proc/stat") as stat:
        user, nice, system, _idle, _iowait, irq, softirq, steal = (
            int(v) for v in stat.readline().split()[1:9])
    return (user + nice + system + irq + softirq + steal) / os.sysconf("SC_CLK_TCK")


def children_cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def wait_until_quiet():
    start = time.monotonic()
    while True:
        before = busy_seconds()
        time.sleep(3)
        share = (busy_seconds() - before) / (3 * CPUS)
        if share < QUIET_SHARE:
            return
        if time.monotonic() - start > QUIET_WAIT_S:
            log(f"machine still busy ({share:.0%}) after {QUIET_WAIT_S} s; measuring anyway")
            return
        log(f"waiting for an idle machine (others use {share:.0%})")
        time.sleep(30)


def measured_json(command, env=None):
    """run_json, plus the share of the machine that other processes used meanwhile."""
    busy, children, start = busy_seconds(), children_cpu_seconds(), time.perf_counter()
    result = run_json(command, env)
    wall = time.perf_counter() - start
    others = (busy_seconds() - busy) - (children_cpu_seconds() - children)
    return result, max(0.0, others) / (wall * CPUS)


def one_run(run):
    """Adapts a single measured run for quiet_runs."""
    result, share = run()
    return result, [share]


def quiet_runs(label, runs):
    """Calls `runs` (which returns results and the others' share of each run) on an idle
    machine until no run was disturbed, at most MAX_TRIES times."""
    for attempt in range(1, MAX_TRIES + 1):
        wait_until_quiet()
        results, shares = runs()
        if max(shares) <= QUIET_SHARE or attempt == MAX_TRIES:
            return results, max(shares)
        log(f"{label}: other processes took {max(shares):.0%} of the machine; again")


# --- engine efficiency -----------------------------------------------------------------------

def ours_speed(build, threads, prompt, gen, reps, tests=None):
    command = [str(build / "engine_bench"), "speed", str(SPEED_MODEL), str(threads), str(prompt),
               str(gen), str(reps)]
    return measured_json(command + ([tests] if tests else []))


def llama_bench(threads, prompt, gen, depth):
    """One llama-bench test (its own warm-up, one repetition): tokens per second."""
    command = [str(LLAMA_BENCH), "-m", str(SPEED_MODEL), "-t", str(threads), "-b", "512",
               "-ub", "512", "-p", str(prompt), "-n", str(gen), "-d", str(depth), "-r", "1",
               "-o", "jsonl"]
    # Its own directory first: the engine libraries there, not those of the tools build.
    env = dict(os.environ, LD_LIBRARY_PATH=str(LLAMA_BENCH.parent))
    row, share = measured_json(command, env)
    return row["avg_ts"], share


def alternating(ours, theirs, ours_first):
    """Both sides back to back, in the given order, for quiet_runs."""
    def both():
        first, second = (ours, theirs) if ours_first else (theirs, ours)
        a, a_share = first()
        b, b_share = second()
        mine, other = (a, b) if ours_first else (b, a)
        return (mine, other), [a_share, b_share]
    return both


def engine_section(build, threads, prompt, gen, reps):
    """Prompt processing and generation are compared in separate pairs of short runs: a
    short pair finds an idle stretch of a shared machine more easily than a long one."""
    pairs = []
    for rep in range(reps):
        log(f"engine: repetition {rep + 1}/{reps}")
        # Alternate which side goes first, so neither always meets a warmer or busier machine.
        ours_first = rep % 2 == 0
        (ours_pp, their_pp), pp_share = quiet_runs("engine, prompt", alternating(
            lambda: ours_speed(build, threads, prompt, gen, 1, "pp"),
            lambda: llama_bench(threads, prompt, 0, 0), ours_first))
        (ours_tg, their_tg), tg_share = quiet_runs("engine, generation", alternating(
            lambda: ours_speed(build, threads, prompt, gen, 1, "tg"),
            lambda: llama_bench(threads, 0, gen, prompt), ours_first))
        pair = {"ours": {"pp": ours_pp["pp_ts"][0], "tg_sampled": ours_tg["tg_sampled_ts"][0],
                         "tg_greedy": ours_tg["tg_greedy_ts"][0], "load_ms": ours_pp["load_ms"],
                         "context_ms": ours_pp["context_ms"],
                         "sample_ms_sampled": ours_tg["sample_ms_sampled"],
                         "sample_ms_greedy": ours_tg["sample_ms_greedy"]},
                "llama_bench": {"pp": their_pp, "tg": their_tg},
                "prompt_tokens": ours_pp["prompt_tokens"],
                "others_share": max(pp_share, tg_share)}
        pairs.append(pair)
        log(f"engine: ours pp {pair['ours']['pp']:.2f} tg {pair['ours']['tg_sampled']:.2f}, "
            f"llama-bench pp {their_pp:.2f} tg {their_tg:.2f}")

    def column(side, key):
        return [p[side][key] for p in pairs]

    def ratios(key, their_key):
        return [p["ours"][key] / p["llama_bench"][their_key] for p in pairs]

    return {
        "threads": threads, "prompt_tokens": prompt, "gen_tokens": gen, "reps": reps,
        "pairs": pairs, "model_load_ms": median(column("ours", "load_ms")),
        "context_ms": median(column("ours", "context_ms")),
        "median": {
            "ours_pp": median(column("ours", "pp")), "llama_pp": median(column("llama_bench", "pp")),
            "ours_tg_sampled": median(column("ours", "tg_sampled")),
            "ours_tg_greedy": median(column("ours", "tg_greedy")),
            "llama_tg": median(column("llama_bench", "tg")),
            "sample_ms_sampled": median(column("ours", "sample_ms_sampled")),
            "sample_ms_greedy": median(column("ours", "sample_ms_greedy")),
            # Ratios of each repetition's pair, then their median: the pairs ran back to
            # back, so a slower minute moves both sides of a pair.
            "pp_ratio": median(ratios("pp", "pp")),
            "tg_ratio": median(ratios("tg_sampled", "tg")),
            "tg_greedy_ratio": median(ratios("tg_greedy", "tg")),
        },
    }


def paired_section(build, threads, prompt, gen, reps):
    log(f"paired: {reps} repetitions")
    command = [str(build / "engine_bench"), "paired", str(SPEED_MODEL), str(threads), str(prompt),
               str(gen), str(reps)]
    result, share = quiet_runs("paired", lambda: one_run(lambda: measured_json(command)))
    result["others_share"] = share
    keys = [f"{kind}_{test}" for kind in ("ours", "server", "bench", "path_ratio",
                                          "context_ratio", "ratio") for test in ("pp", "tg")]
    result["median"] = {key: median([run[key] for run in result["runs"]]) for key in keys}
    return result


def threads_section(build, prompt, gen, reps):
    counts = sorted({1, 2, CPUS})
    rows = []
    for threads in counts:
        log(f"threads: {threads}")
        result, share = quiet_runs(
            "threads", lambda: one_run(lambda: ours_speed(build, threads, prompt, gen, reps)))
        rows.append({"threads": threads, "pp": median(result["pp_ts"]),
                     "tg_sampled": median(result["tg_sampled_ts"]),
                     "tg_greedy": median(result["tg_greedy_ts"]), "others_share": share})
    return {"prompt_tokens": prompt, "gen_tokens": gen, "reps": reps, "rows": rows}


# --- prefix reuse ----------------------------------------------------------------------------

def reuse_section(build, paragraphs, gen):
    log(f"reuse: {paragraphs} paragraphs")
    command = [str(build / "engine_bench"), "reuse", str(SPEED_MODEL), str(paragraphs), str(gen)]
    result, share = quiet_runs("reuse", lambda: one_run(lambda: measured_json(command)))
    result["others_share"] = share
    result["seconds_saved"] = result["off"]["seconds"] - result["on"]["seconds"]
    result["decoded_share"] = (result["on"]["prompt_tokens_decoded"] /
                               result["prompt_tokens_submitted"])
    return result


def parallel_run(build, parallel, gen, paragraphs):
    command = [str(build / "engine_bench"), "parallel", str(SPEED_MODEL), str(parallel), str(gen),
               str(paragraphs)]
    result, share = quiet_runs(f"parallel {parallel}", lambda: one_run(lambda: measured_json(command)))
    result["others_share"] = share
    return result


def parallel_section(build, paragraphs, gen, default):
    """Aggregate generation speed with 1, 2, 4 and 8 prompts decoded together, and the
    document of the reuse section at 1 and at the default."""
    rows = []
    for parallel in (1, 2, 4, 8):
        log(f"parallel: {parallel} prompts at once")
        rows.append(parallel_run(build, parallel, gen, 0))
    log(f"parallel: {paragraphs} paragraphs at 1 and at {default}")
    documents = {str(p): parallel_run(build, p, gen, paragraphs) for p in (1, default)}
    one, best = documents["1"]["document"], documents[str(default)]["document"]
    identical = sum(a == b for a, b in zip(one["answers"], best["answers"]))
    for run in documents.values():
        run["document"].pop("answers")
    return {"rows": [{"parallel": r["parallel"], "generation_tps": r["generation_tps"],
                      "others_share": r["others_share"]} for r in rows],
            "default": default, "paragraphs": paragraphs,
            "document": {p: r["document"] for p, r in documents.items()},
            "speedup": one["seconds"] / best["seconds"], "greedy_identical": identical}


def memory_section(build):
    log("memory: resident memory and context costs")
    command = [str(build / "engine_bench"), "memory", str(SPEED_MODEL)]
    result = {}
    for parallel in (1, 4):
        env = dict(os.environ, AMBREL_PARALLEL=str(parallel))
        result[str(parallel)] = run_json(command, env)
    result["model_bytes"] = SPEED_MODEL.stat().st_size
    return result


# --- work outside the model ------------------------------------------------------------------

PYTHON_DOCX = """
import sys, time, docx
start = time.perf_counter()
document = docx.Document(sys.argv[1])
opened = time.perf_counter()
document.save(sys.argv[2])
print((opened - start) * 1e3, (time.perf_counter() - opened) * 1e3)
"""


def docs_section(build, reps, engine):
    pp = engine["median"]["ours_pp"] if engine else None
    tg = engine["median"]["ours_tg_sampled"] if engine else None
    tool = build / "doc_roundtrip"
    rows = {}
    with tempfile.TemporaryDirectory() as work:
        subprocess.run([str(tool), "make", work], check=True, capture_output=True)
        for kind in ["docx", "srt", "md", "pptx", "xlsx"]:
            log(f"docs: {kind} (load {load_average():.2f})")
            source, output = f"{work}/large.{kind}", f"{work}/out.{kind}"
            counted = run_json([str(tool), "run", source, output, str(SPEED_MODEL)])
            runs = []
            for _ in range(reps):
                seconds, kib, stdout = timed_run([str(tool), "run", source, output])
                runs.append({"process_s": seconds, "peak_kib": kib, **json.loads(stdout)})
            row = {"bytes": os.path.getsize(source), "segments": counted["segments"],
                   "prompts": counted["prompts"], "tokens": counted["tokens"], "runs": runs}
            for key in ["parse_ms", "translate_ms", "write_ms", "process_s", "peak_kib"]:
                row[key] = median([r[key] for r in runs])
            row["outside_ms"] = row["parse_ms"] + row["translate_ms"] + row["write_ms"]
            if pp and tg:
                tokens = counted["tokens"]
                model_s = tokens["prompt_tokens_decoded"] / pp + tokens["answer_tokens"] / tg
                row["model_estimate_s"] = model_s
                row["outside_share"] = row["outside_ms"] / 1e3 / (model_s + row["outside_ms"] / 1e3)
            if kind == "docx":
                docx_times = []
                for _ in range(reps):
                    out = subprocess.run([PYTHON, "-c", PYTHON_DOCX, source, f"{work}/py.docx"],
                                         check=True, capture_output=True, text=True)
                    docx_times.append([float(v) for v in out.stdout.split()])
                row["python_docx_open_ms"] = median([t[0] for t in docx_times])
                row["python_docx_save_ms"] = median([t[1] for t in docx_times])
            rows[kind] = row
    return {"reps": reps, "pp_ts": pp, "tg_ts": tg, "documents": rows}


# --- start-up and idle cost ------------------------------------------------------------------

INITIALIZE = {"jsonrpc": "2.0", "id": 1, "method": "initialize",
              "params": {"protocolVersion": "2025-06-18", "capabilities": {},
                         "clientInfo": {"name": "bench", "version": "1"}}}
TRANSLATE = {"jsonrpc": "2.0", "id": 2, "method": "tools/call",
             "params": {"name": "translate_text",
                        "arguments": {"text": "The meeting starts at noon.", "to": "fr"}}}


def memory_kib(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                fields[key] = int(value.split()[0])
    return fields


def start_server(build):
    env = dict(os.environ, TRANSLATE_LLM_MODEL=str(SPEED_MODEL))
    env.pop("TRANSLATE_LLM_DIR", None)
    return subprocess.Popen([str(build / "quorvel-translate")], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                            text=True, bufsize=1)


def call(server, message):
    server.stdin.write(json.dumps(message) + "\n")
    server.stdin.flush()
    return json.loads(server.stdout.readline())


def startup_section(build, reps):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        server = start_server(build)
        call(server, INITIALIZE)
        times.append((time.perf_counter() - start) * 1e3)
        server.stdin.close()
        server.wait()
    log(f"startup: translating once with the speed-test model (load {load_average():.2f})")
    server = start_server(build)
    call(server, INITIALIZE)
    idle = memory_kib(server.pid)
    start = time.perf_counter()
    reply = call(server, TRANSLATE)
    first_call_s = time.perf_counter() - start
    loaded = memory_kib(server.pid)
    server.stdin.close()
    server.wait()
    return {"initialize_ms": median(times), "initialize_runs_ms": times,
            "idle_peak_kib": idle["VmHWM"], "loaded_peak_kib": loaded["VmHWM"],
            "loaded_rss_kib": loaded["VmRSS"], "model_bytes": SPEED_MODEL.stat().st_size,
            "first_translate_text_s": first_call_s,
                        # The speed-test model's noise is never accepted as a translation, so this call
            # ends with an error result after both attempts; its time is still the real cost.
            "first_translate_text_is_error": reply.get("result", {}).get("isError")}


# --- report ----------------------------------------------------------------------------------

def cpu_name():
    with open("/proc/cpuinfo") as info:
        for line in info:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor()


def fmt(value, spec=".1f"):
    return "–" if value is None else format(value, spec)


def table(results):
    lines = [f"Measured {results['date']} on {results['cpu']} ({results['cpus']} logical "
             "processors). Load average at the start of each section: " +
             ", ".join(f"{name} {results[name]['measured']['load_before']:.2f}"
                       for name in SECTIONS if name in results and "measured" in results[name]) +
             ".", ""]
    engine = results.get("engine")
    if engine:
        m = engine["median"]
        lines += [
            f"**Engine efficiency** (speed-test model, {engine['threads']} threads, "
            f"medians of {engine['reps']} alternating runs)", "",
            "| | ours (tokens/s) | llama-bench (tokens/s) | ours / llama.cpp |",
            "|---|---:|---:|---:|",
            f"| prompt processing, {engine['prompt_tokens']} tokens | {fmt(m['ours_pp'], '.2f')} | "
            f"{fmt(m['llama_pp'], '.2f')} | {fmt(m['pp_ratio'], '.3f')} |",
            f"| generation, {engine['gen_tokens']} tokens after {engine['prompt_tokens']}, sampled "
            f"| {fmt(m['ours_tg_sampled'], '.2f')} | {fmt(m['llama_tg'], '.2f')} | "
            f"{fmt(m['tg_ratio'], '.3f')} |",
            f"| generation, greedy | {fmt(m['ours_tg_greedy'], '.2f')} | "
            f"{fmt(m['llama_tg'], '.2f')} | {fmt(m['tg_greedy_ratio'], '.3f')} |", "",
            f"Sampling a token (which llama-bench does not do) takes "
            f"{fmt(m['sample_ms_sampled'], '.2f')} ms with the first attempt's sampler chain "
            f"and {fmt(m['sample_ms_greedy'], '.2f')} ms greedily; the model is loaded in "
            f"{fmt(engine['model_load_ms'] / 1e3, '.1f')} s, and each call's 8192-position "
            f"context is made in {fmt(engine['context_ms'], '.0f')} ms.", ""]
    paired = results.get("paired")
    if paired:
        m = paired["median"]
        lines += [
            f"**Where the time goes** (one process, {paired['threads']} threads, medians of "
            f"{len(paired['runs'])} repetitions alternating every few seconds; bare = "
            "llama-bench's own decode loop)", "",
            "| | ours (tokens/s) | bare, server's context | bare, llama-bench's context | "
            "ours / bare (our path) | server's / llama-bench's context | ours / llama-bench's |",
            "|---|---:|---:|---:|---:|---:|---:|"]
        for test, name in (("pp", f"prompt, {paired['prompt_tokens']} tokens"),
                           ("tg", f"generation, {paired['gen_tokens']} tokens, sampled")):
            lines.append(
                f"| {name} | {m['ours_' + test]:.2f} | {m['server_' + test]:.2f} | "
                f"{m['bench_' + test]:.2f} | {m['path_ratio_' + test]:.3f} | "
                f"{m['context_ratio_' + test]:.3f} | {m['ratio_' + test]:.3f} |")
        lines.append("")
    threads = results.get("threads")
    if threads:
        lines += [f"**Threads** (ours; {threads['prompt_tokens']}-token prompt, "
                  f"{threads['gen_tokens']} generated tokens)", "",
                  "| threads | prompt tokens/s | generated tokens/s (sampled) | "
                  "generated tokens/s (greedy) |", "|---:|---:|---:|---:|"]
        for row in threads["rows"]:
            lines.append(f"| {row['threads']} | {fmt(row['pp'], '.2f')} | "
                         f"{fmt(row['tg_sampled'], '.2f')} | {fmt(row['tg_greedy'], '.2f')} |")
        lines.append("")
    reuse = results.get("reuse")
    if reuse:
        on, off = reuse["on"], reuse["off"]
        lines += [f"**Prefix reuse** ({reuse['paragraphs']} paragraphs, English to French, "
                  f"{reuse['gen_tokens']} generated tokens each)", "",
                  "| | prompt tokens submitted | decoded | time (s) |", "|---|---:|---:|---:|",
                  f"| reuse on | {reuse['prompt_tokens_submitted']} | "
                  f"{on['prompt_tokens_decoded']} ({reuse['decoded_share']:.0%}) | "
                  f"{on['seconds']:.1f} |",
                  f"| reuse off | {reuse['prompt_tokens_submitted']} | "
                  f"{off['prompt_tokens_decoded']} | {off['seconds']:.1f} |",
                  f"| saved | | {off['prompt_tokens_decoded'] - on['prompt_tokens_decoded']} | "
                  f"{reuse['seconds_saved']:.1f} |", ""]
    docs = results.get("docs")
    if docs:
        lines += ["**Work outside the model** (instant answers; medians of "
                  f"{docs['reps']} runs; model time estimated from the prompt tokens decoded "
                  "with prefix reuse and the answer tokens at the measured tokens/s)", "",
                  "| document | segments / prompts | parse (ms) | pipeline (ms) | write (ms) | "
                  "peak RSS (MiB) | model time (estimate) | outside share |",
                  "|---|---:|---:|---:|---:|---:|---:|---:|"]
        names = {"docx": "DOCX, 2,000 paragraphs, 50 MB images", "srt": "SRT, 5,000 cues",
                 "md": "Markdown, 1 MB", "pptx": "PPTX, 200 slides with notes",
                 "xlsx": "XLSX, 100,000 cells"}
        for kind, row in docs["documents"].items():
            model = row.get("model_estimate_s")
            share = row.get("outside_share")
            lines.append(
                f"| {names[kind]} | {row['segments']} / {row['prompts']} | "
                f"{row['parse_ms']:.0f} | {row['translate_ms']:.0f} | {row['write_ms']:.0f} | "
                f"{row['peak_kib'] / 1024:.0f} | "
                f"{'–' if model is None else f'{model / 3600:.1f} h'} | "
                f"{'–' if share is None else f'{share:.4%}'} |")
        docx = docs["documents"].get("docx")
        if docx and "python_docx_open_ms" in docx:
            lines += ["", f"DOCX read + write: ours {docx['parse_ms'] + docx['write_ms']:.0f} ms "
                      f"(parse {docx['parse_ms']:.0f}, write {docx['write_ms']:.0f}); python-docx "
                      f"{docx['python_docx_open_ms'] + docx['python_docx_save_ms']:.0f} ms "
                      f"(open {docx['python_docx_open_ms']:.0f}, save "
                      f"{docx['python_docx_save_ms']:.0f})."]
        lines.append("")
    parallel = results.get("parallel")
    if parallel:
        base = parallel["rows"][0]["generation_tps"]
        lines += ["**Prompts decoded together** (aggregate generated tokens/s, greedy, "
                  "one prompt per sequence)", "",
                  "| prompts at once | generated tokens/s | vs 1 |", "|---:|---:|---:|"]
        for row in parallel["rows"]:
            lines.append(f"| {row['parallel']} | {row['generation_tps']:.2f} | "
                         f"{row['generation_tps'] / base:.2f}x |")
        one = parallel["document"]["1"]
        best = parallel["document"][str(parallel["default"])]
        lines += ["", f"{parallel['paragraphs']} paragraphs (answers as long as their "
                  f"paragraphs): {one['seconds']:.1f} s at 1, {best['seconds']:.1f} s at "
                  f"{parallel['default']} ({parallel['speedup']:.2f}x, {one['decodes']} vs "
                  f"{best['decodes']} decodes); greedy answers identical: "
                  f"{parallel['greedy_identical']} of {parallel['paragraphs']}.", ""]
    memory = results.get("memory")
    if memory:
        lines += ["**Resident memory** (peak, MiB) and context costs", "",
                  "| prompts at once | after load | after context | after a call | "
                  "make the context | empty it for the next call |", "|---:|---:|---:|---:|---:|---:|"]
        for key in ("1", "4"):
            m = memory[key]
            lines.append(f"| {key} | {m['loaded']['VmHWM'] / 1024:.0f} | "
                         f"{m['context']['VmHWM'] / 1024:.0f} | {m['call']['VmHWM'] / 1024:.0f} | "
                         f"{m['context_seconds'] * 1e3:.0f} ms | {m['reset_seconds'] * 1e3:.1f} ms |")
        lines += ["", f"Model file: {memory['model_bytes'] / 2**20:.0f} MiB.", ""]
    startup = results.get("startup")
    if startup:
        lines += ["**Start-up and idle cost**", "",
                  "| process start to initialize reply | peak RSS idle | peak RSS with model "
                  "loaded | model file |", "|---:|---:|---:|---:|",
                  f"| {startup['initialize_ms']:.1f} ms | {startup['idle_peak_kib'] / 1024:.1f} MiB | "
                  f"{startup['loaded_peak_kib'] / 1024:.0f} MiB | "
                  f"{startup['model_bytes'] / 2**20:.0f} MiB |", ""]
    return "\n".join(lines)


def previous(section):
    """A section of the last report, for runs that leave it out."""
    try:
        return json.loads((RESULTS / "latest.json").read_text()).get(section)
    except (OSError, ValueError):
        return None


def main():
    global SPEED_MODEL
    parser = argparse.ArgumentParser(description="Run the benchmarks and report them.")
    parser.add_argument("--build", default=str(ROOT / "build-bench"), help="CMake build dir")
    parser.add_argument("--sections", default=",".join(SECTIONS))
    parser.add_argument("--reps", type=int, default=5, help="engine repetitions")
    parser.add_argument("--threads", type=int, default=None,
                        help="thread count of the engine comparison (default: the server's rule)")
    parser.add_argument("--prompt", type=int, default=512)
    parser.add_argument("--gen", type=int, default=128)
    parser.add_argument("--paragraphs", type=int, default=50)
    parser.add_argument("--model", default=str(SPEED_MODEL), help="GGUF model to measure")
    args = parser.parse_args()
    SPEED_MODEL = Path(args.model).resolve()
    build = Path(args.build).resolve()
    sections = args.sections.split(",")
    cpus = os.cpu_count() or 8
    threads = args.threads or min(16, min(cpus, max(4, cpus // 2)))

    runners = {
        "engine": lambda: engine_section(build, threads, args.prompt, args.gen, args.reps),
        "paired": lambda: paired_section(build, threads, args.prompt, args.gen, args.reps),
        "threads": lambda: threads_section(build, 256, 64, 2),
        "reuse": lambda: reuse_section(build, args.paragraphs, 8),
        "parallel": lambda: parallel_section(build, args.paragraphs, 32, 4),
        "memory": lambda: memory_section(build),
        "docs": lambda: docs_section(build, 5, results.get("engine") or previous("engine")),
        "startup": lambda: startup_section(build, 5),
    }
    results = {"date": datetime.date.today().isoformat(), "cpu": cpu_name(), "cpus": cpus}
    for name, runner in runners.items():
        if name not in sections:
            continue
        load_before = load_average()
        results[name] = runner()
        # The load average says how quiet the machine was; figures taken at a load well
        # above 0 are lower than the machine can do.
        results[name]["measured"] = {
            "time": datetime.datetime.now().isoformat(timespec="seconds"),
            "load_before": load_before, "load_after": load_average()}

    RESULTS.mkdir(parents=True, exist_ok=True)
    stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
    (RESULTS / f"{stamp}.json").write_text(json.dumps(results, indent=1))
    # latest.json keeps the sections this run left out from earlier runs, so that sections can
    # be measured one at a time whenever the machine is quiet.
    latest = {}
    try:
        latest = json.loads((RESULTS / "latest.json").read_text())
    except (OSError, ValueError):
        pass
    latest.update(results)
    (RESULTS / "latest.json").write_text(json.dumps(latest, indent=1))
    report = table(latest)
    (RESULTS / "latest.md").write_text(report + "\n")
    print(report)


if __name__ == "__main__":
    main()
