#!/usr/bin/python3
"""Writes the small GGUF models that the tests run through the real llama.cpp engine.

Both models have the Gemma 3 architecture (the family of the real translation model) with a
byte-level SentencePiece vocabulary: the 256 byte tokens, the word separator, and the
special tokens <pad>, <eos>, <bos>, <unk>, <start_of_turn> and <end_of_turn>. Every byte of
a prompt is one token (a space is the separator token), so tests can build prompts of an
exact token length.

  tiny.gguf      random weights, width 64, 2 layers. Its output layer is biased so that it
                 only ever produces lowercase ASCII letters: generation never ends early and
                 its text is always valid UTF-8.
  constant.gguf  answers every prompt that ends with a line feed with exactly
                 "Bonjour le monde." and then <end_of_turn>, greedily and when sampled.
  quirks.gguf    answers a prompt ending in a line feed with invalid UTF-8, and one ending
                 in "!" with a piece too long for the piece buffer followed by "ok".

Run with Debian's Python (numpy) after scripts/fetch-engine.sh, which provides gguf-py.
Output: .cache/models/ (skipped when the models are already there for this script).
"""

import hashlib
import os
import sys
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / ".cache" / "llama.cpp-src" / "gguf-py"))
import gguf  # noqa: E402

OUT_DIR = ROOT / ".cache" / "models"
CONSTANT_ANSWER = "Bonjour le monde."

N_EMBD = 64
N_LAYER = 2
N_HEAD = 4
N_HEAD_KV = 2
HEAD_DIM = 16
N_FF = 128
CONTEXT_LENGTH = 8192
SLIDING_WINDOW = 1024

SEPARATOR = "\u2581"  # SentencePiece's word separator, shown as a space when detokenized


def base_vocab():
    """Token texts and types: specials first (as in Gemma), then the bytes, then the rest."""
    tokens = [("<pad>", gguf.TokenType.CONTROL), ("<eos>", gguf.TokenType.CONTROL),
              ("<bos>", gguf.TokenType.CONTROL), ("<unk>", gguf.TokenType.UNKNOWN)]
    tokens += [(f"<0x{b:02X}>", gguf.TokenType.BYTE) for b in range(256)]
    tokens += [(SEPARATOR, gguf.TokenType.NORMAL),
               ("<start_of_turn>", gguf.TokenType.CONTROL),
               ("<end_of_turn>", gguf.TokenType.CONTROL)]
    return tokens


def byte_token(vocab, b):
    return index_of(vocab, f"<0x{b:02X}>")


def index_of(vocab, text):
    return next(i for i, (t, _) in enumerate(vocab) if t == text)


def write_model(path, name, vocab, tensors):
    tmp = path.with_suffix(".tmp")
    w = gguf.GGUFWriter(str(tmp), "gemma3")
    w.add_name(name)
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
    # Like the real model: sliding-window layers with a full-attention layer after them.
    w.add_sliding_window(SLIDING_WINDOW)
    w.add_sliding_window_pattern(N_LAYER)
    w.add_file_type(gguf.LlamaFileType.ALL_F32)

    w.add_tokenizer_model("llama")
    w.add_token_list([t for t, _ in vocab])
    w.add_token_scores([0.0] * len(vocab))
    w.add_token_types([int(k) for _, k in vocab])
    w.add_bos_token_id(index_of(vocab, "<bos>"))
    w.add_eos_token_id(index_of(vocab, "<eos>"))
    w.add_unk_token_id(index_of(vocab, "<unk>"))
    w.add_pad_token_id(index_of(vocab, "<pad>"))
    w.add_add_bos_token(True)
    w.add_add_eos_token(False)
    w.add_add_space_prefix(False)

    for tensor_name, data in tensors.items():
        w.add_tensor(tensor_name, np.ascontiguousarray(data, dtype=np.float32))
    w.write_header_to_file()
    w.write_kv_data_to_file()
    w.write_tensors_to_file()
    w.close()
    os.replace(tmp, path)


def layer_tensors(rng, i, scale, identity):
    """One transformer block. With `identity`, the attention output and feed-forward down
    projections are zero, so the block adds nothing to the residual stream."""
    def rand(*shape):
        return rng.normal(0.0, scale, shape)

    q_dim, kv_dim = N_HEAD * HEAD_DIM, N_HEAD_KV * HEAD_DIM
    post_norm = 0.05  # keeps the random blocks small next to the embedding
    return {
        f"blk.{i}.attn_norm.weight": np.ones(N_EMBD),
        f"blk.{i}.attn_q.weight": rand(q_dim, N_EMBD),
        f"blk.{i}.attn_k.weight": rand(kv_dim, N_EMBD),
        f"blk.{i}.attn_v.weight": rand(kv_dim, N_EMBD),
        f"blk.{i}.attn_q_norm.weight": np.ones(HEAD_DIM),
        f"blk.{i}.attn_k_norm.weight": np.ones(HEAD_DIM),
        f"blk.{i}.attn_output.weight": np.zeros((N_EMBD, q_dim)) if identity else rand(N_EMBD, q_dim),
        f"blk.{i}.post_attention_norm.weight": np.full(N_EMBD, post_norm),
        f"blk.{i}.ffn_norm.weight": np.ones(N_EMBD),
        f"blk.{i}.ffn_gate.weight": rand(N_FF, N_EMBD),
        f"blk.{i}.ffn_up.weight": rand(N_FF, N_EMBD),
        f"blk.{i}.ffn_down.weight": np.zeros((N_EMBD, N_FF)) if identity else rand(N_EMBD, N_FF),
        f"blk.{i}.post_ffw_norm.weight": np.full(N_EMBD, post_norm),
    }


def make_tiny(path):
    rng = np.random.default_rng(20240611)
    vocab = base_vocab()
    n_vocab = len(vocab)
    # The last embedding dimension is a large constant shared by every token; the output
    # layer reads it as a bias that favours lowercase letters over everything else.
    embd = rng.normal(0.0, 1.0, (n_vocab, N_EMBD))
    embd[:, -1] = 8.0
    output = rng.normal(0.0, 0.1, (n_vocab, N_EMBD))
    letters = {byte_token(vocab, b) for b in range(ord("a"), ord("z") + 1)}
    output[:, -1] = [1.0 if t in letters else -10.0 for t in range(n_vocab)]

    tensors = {"token_embd.weight": embd, "output_norm.weight": np.ones(N_EMBD), "output.weight": output}
    for i in range(N_LAYER):
        tensors.update(layer_tensors(rng, i, 0.2, identity=False))
    write_model(path, "quorvel tiny test model", vocab, tensors)


def make_chain_model(path, name, pieces, chains, seed):
    """Every block is an identity, so the logits depend on the last token alone: the output
    row of token B is aimed at the embedding of token A to make B the only likely successor
    of A. Each chain (a list of token texts) runs from a prompt's last token to its end."""
    rng = np.random.default_rng(seed)
    vocab = base_vocab() + [(p, gguf.TokenType.NORMAL) for p in pieces]
    n_vocab = len(vocab)

    links = []
    for chain in chains:
        ids = [index_of(vocab, t) for t in chain]
        links += zip(ids, ids[1:])
    states = [state for state, _ in links]
    assert len(set(states)) == len(states), "a token can lead to one successor only"
    # Chain states own one embedding dimension each; other tokens live in the remaining ones.
    embd = rng.normal(0.0, 1.0, (n_vocab, N_EMBD))
    embd[:, : len(links)] = 0.0
    output = np.zeros((n_vocab, N_EMBD))
    for k, (state, successor) in enumerate(links):
        embd[state] = 0.0
        embd[state, k] = 1.0
        # After the final norm the state is sqrt(N_EMBD) * unit vector: a logit of 40 for the
        # successor against 0 for every other token, a margin no sampler setting overturns.
        output[successor, k] = 40.0 / np.sqrt(N_EMBD)

    tensors = {"token_embd.weight": embd, "output_norm.weight": np.ones(N_EMBD), "output.weight": output}
    for i in range(N_LAYER):
        tensors.update(layer_tensors(rng, i, 0.2, identity=True))
    write_model(path, name, vocab, tensors)


def make_constant(path):
    """From the line feed that ends every prompt: the answer's pieces, then <end_of_turn>."""
    pieces = ["Bonjour", SEPARATOR + "le", SEPARATOR + "monde."]
    assert "".join(pieces).replace(SEPARATOR, " ") == CONSTANT_ANSWER
    make_chain_model(path, "quorvel constant-answer test model", pieces,
                     [["<0x0A>"] + pieces + ["<end_of_turn>"]], 20240612)


LONG_PIECE = "x" * 600


def make_quirks(path):
    """Outputs that a sound model never gives: after a line feed a lone UTF-8 lead byte, after
    "!" a piece longer than any piece buffer followed by "ok"."""
    make_chain_model(path, "quorvel quirks test model", [LONG_PIECE, "ok"],
                     [["<0x0A>", "<0xC3>", "<end_of_turn>"],
                      ["<0x21>", LONG_PIECE, "ok", "<end_of_turn>"]], 20240613)


MODELS = {"tiny.gguf": make_tiny, "constant.gguf": make_constant, "quirks.gguf": make_quirks}


def main():
    OUT_DIR.mkdir(parents=True, exist_ok=True)
    digest = hashlib.sha256(Path(__file__).read_bytes()).hexdigest()
    stamp = OUT_DIR / ".stamp"
    if stamp.exists() and stamp.read_text() == digest and all((OUT_DIR / m).exists() for m in MODELS):
        return
    stamp.unlink(missing_ok=True)
    for file_name, make in MODELS.items():
        make(OUT_DIR / file_name)
    stamp.write_text(digest)
    print(f"make-test-models: wrote {', '.join(MODELS)} to {OUT_DIR.relative_to(ROOT)}", file=sys.stderr)


if __name__ == "__main__":
    main()
