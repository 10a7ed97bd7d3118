#!/usr/bin/python3
"""Writes the speed-test model: a GGUF with the exact shape of a Gemma 3 4B model and random
weights, quantized to Q4_K_M. Its speed on any machine equals that of the real 4B model in the
same quantization; the text it produces is noise.

Shape: the 262,144-token vocabulary of the tokenizer-only file in the fetched llama.cpp source
(its turn markers renamed to <start_of_turn> and <end_of_turn>, the markers our prompts use),
width 2560, 34 layers, 8 query heads and 4 key/value heads of size 256, feed-forward 10240,
sliding window 1024 (five sliding-window layers to one global one), embeddings tied to the
output layer.

  make-speed-model.py QUANTIZE_TOOL

writes .cache/models/speed-4b-q4_k_m.gguf (about 2.3 GiB) through an F16 file of about 7.3 GiB
that is deleted afterwards. Skipped when the model is already there for this script. Run with
Debian's Python (numpy) after scripts/fetch-engine.sh, which provides gguf-py. It takes a few
minutes and is never run by the tests.
"""

import hashlib
import os
import subprocess
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
SOURCE = ROOT / ".cache" / "llama.cpp-src"
sys.path.insert(0, str(SOURCE / "gguf-py"))
import gguf  # noqa: E402

OUT_DIR = ROOT / ".cache" / "models"
MODEL = OUT_DIR / "speed-4b-q4_k_m.gguf"
VOCAB_FILE = SOURCE / "models" / "ggml-vocab-gemma-4.gguf"

N_EMBD = 2560
N_LAYER = 34
N_HEAD = 8
N_HEAD_KV = 4
HEAD_DIM = 256
N_FF = 10240
CONTEXT_LENGTH = 131072
SLIDING_WINDOW = 1024
WEIGHT_SCALE = 0.02

# The tokenizer file names the turn markers differently; same ids, our prompts' names.
RENAMED_TOKENS = {"<|turn>": "<start_of_turn>", "<turn|>": "<end_of_turn>"}


def field(reader, name):
    f = reader.fields[name]
    return f.contents()


def read_vocabulary():
    reader = gguf.GGUFReader(str(VOCAB_FILE))
    tokens = [RENAMED_TOKENS.get(t, t) for t in field(reader, "tokenizer.ggml.tokens")]
    assert len(tokens) == 262144, len(tokens)
    for name in RENAMED_TOKENS.values():
        assert tokens.count(name) == 1, name
    return {
        "model": field(reader, "tokenizer.ggml.model"),
        "tokens": tokens,
        "scores": field(reader, "tokenizer.ggml.scores"),
        "types": field(reader, "tokenizer.ggml.token_type"),
        "merges": field(reader, "tokenizer.ggml.merges"),
        "bos": field(reader, "tokenizer.ggml.bos_token_id"),
        "eos": field(reader, "tokenizer.ggml.eos_token_id"),
        "unk": field(reader, "tokenizer.ggml.unknown_token_id"),
        "pad": field(reader, "tokenizer.ggml.padding_token_id"),
    }


def tensor_shapes(n_vocab):
    """Name and numpy shape (rows = outputs) of every tensor, in file order."""
    q_dim, kv_dim = N_HEAD * HEAD_DIM, N_HEAD_KV * HEAD_DIM
    shapes = [("token_embd.weight", (n_vocab, N_EMBD)), ("output_norm.weight", (N_EMBD,))]
    for i in range(N_LAYER):
        shapes += [
            (f"blk.{i}.attn_norm.weight", (N_EMBD,)),
            (f"blk.{i}.attn_q.weight", (q_dim, N_EMBD)),
            (f"blk.{i}.attn_k.weight", (kv_dim, N_EMBD)),
            (f"blk.{i}.attn_v.weight", (kv_dim, N_EMBD)),
            (f"blk.{i}.attn_q_norm.weight", (HEAD_DIM,)),
            (f"blk.{i}.attn_k_norm.weight", (HEAD_DIM,)),
            (f"blk.{i}.attn_output.weight", (N_EMBD, q_dim)),
            (f"blk.{i}.post_attention_norm.weight", (N_EMBD,)),
            (f"blk.{i}.ffn_norm.weight", (N_EMBD,)),
            (f"blk.{i}.ffn_gate.weight", (N_FF, N_EMBD)),
            (f"blk.{i}.ffn_up.weight", (N_FF, N_EMBD)),
            (f"blk.{i}.ffn_down.weight", (N_EMBD, N_FF)),
            (f"blk.{i}.post_ffw_norm.weight", (N_EMBD,)),
        ]
    return shapes


def tensor_data(rng, name, shape):
    # Norm weights stay F32 as converters write them; matrices are F16 before quantization.
    if len(shape) == 1:
        return np.ones(shape, dtype=np.float32)
    data = rng.standard_normal(shape, dtype=np.float32)
    data *= WEIGHT_SCALE
    return data.astype(np.float16)


def write_f16(path, vocab):
    rng = np.random.default_rng(4_000_000_000)
    w = gguf.GGUFWriter(str(path), "gemma3")
    w.add_name("quorvel speed-test model (Gemma 3 4B shape, random weights)")
    w.add_context_length(CONTEXT_LENGTH)
    w.add_embedding_length(N_EMBD)
    w.add_block_count(N_LAYER)
    w.add_feed_forward_length(N_FF)
    w.add_head_count(N_HEAD)
    w.add_head_count_kv(N_HEAD_KV)
    w.add_key_length(HEAD_DIM)
    w.add_value_length(HEAD_DIM)
    w.add_layer_norm_rms_eps(1e-6)
    w.add_rope_freq_base(1_000_000.0)
    w.add_rope_scaling_type(gguf.RopeScalingType.LINEAR)
    w.add_rope_scaling_factor(8.0)
    w.add_sliding_window(SLIDING_WINDOW)
    w.add_file_type(gguf.LlamaFileType.MOSTLY_F16)

    w.add_tokenizer_model(vocab["model"])
    w.add_token_list(vocab["tokens"])
    w.add_token_scores(vocab["scores"])
    w.add_token_types(vocab["types"])
    w.add_token_merges(vocab["merges"])
    w.add_bos_token_id(vocab["bos"])
    w.add_eos_token_id(vocab["eos"])
    w.add_unk_token_id(vocab["unk"])
    w.add_pad_token_id(vocab["pad"])
    w.add_add_bos_token(True)
    w.add_add_eos_token(False)
    w.add_add_space_prefix(False)

    # Tensors are described first and generated one at a time while writing, so memory holds
    # one tensor (the 1.3 GB embedding at most), not the model.
    shapes = tensor_shapes(len(vocab["tokens"]))
    for name, shape in shapes:
        dtype = np.float32 if len(shape) == 1 else np.float16
        nbytes = int(np.prod(shape)) * np.dtype(dtype).itemsize
        w.add_tensor_info(name, shape, np.dtype(dtype), nbytes)
    w.write_header_to_file()
    w.write_kv_data_to_file()
    w.write_ti_data_to_file()
    for name, shape in shapes:
        w.write_tensor_data(tensor_data(rng, name, shape))
    w.close()


def main():
    if len(sys.argv) != 2:
        print("usage: make-speed-model.py QUANTIZE_TOOL", file=sys.stderr)
        return 2
    quantize = sys.argv[1]
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    digest = hashlib.sha256(Path(__file__).read_bytes()).hexdigest()
    stamp = OUT_DIR / ".speed-stamp"
    if MODEL.exists() and stamp.exists() and stamp.read_text() == digest:
        return 0
    stamp.unlink(missing_ok=True)
    f16 = OUT_DIR / "speed-4b-f16.gguf.tmp"
    partial = OUT_DIR / "speed-4b-q4_k_m.gguf.tmp"
    try:
        print("make-speed-model: writing the F16 model", file=sys.stderr)
        write_f16(f16, read_vocabulary())
        print("make-speed-model: quantizing to Q4_K_M", file=sys.stderr)
        done = subprocess.run([quantize, str(f16), str(partial), "Q4_K_M"],
                              capture_output=True, text=True)
        if done.returncode != 0:
            print(done.stderr[-4000:], file=sys.stderr)
            raise SystemExit(f"make-speed-model: {quantize} failed ({done.returncode})")
        os.replace(partial, MODEL)
    finally:
        f16.unlink(missing_ok=True)
        partial.unlink(missing_ok=True)
    stamp.write_text(digest)
    size = MODEL.stat().st_size
    print(f"make-speed-model: wrote {MODEL.relative_to(ROOT)} ({size / 2**30:.2f} GiB)",
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
