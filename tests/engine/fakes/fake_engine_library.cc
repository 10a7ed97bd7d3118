// A stand-in for one of the engine libraries (ggml, ggml-base or llama, chosen by
// FAKE_LIBRARY_*), for binding failures that the real libraries cannot show. Only the names
// matter to a binding; the few functions a binding calls record their calls for the tests.
// Variants leave out one entry point (FAKE_OMIT_*) or add the log setters (FAKE_LOG_SETTERS).

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
// Braced, so that the initializer makes these definitions rather than declarations.
#define FAKE_VARIABLE(definition)                    \
  extern "C" {                                       \
  __attribute__((visibility("default"))) definition; \
  }
#define FAKE_ENTRY(name) \
  FAKE_EXPORT void name() {}

#if defined(FAKE_LOG_SETTERS)
FAKE_VARIABLE(int fake_log_set_calls = 0)
FAKE_VARIABLE(const void* fake_log_callback = nullptr)
#define FAKE_LOG_SETTER(name)                          \
  FAKE_EXPORT void name(const void* callback, void*) { \
    ++fake_log_set_calls;                              \
    fake_log_callback = callback;                      \
  }
#endif

#if defined(FAKE_LIBRARY_ggml)
FAKE_ENTRY(ggml_backend_dev_count)
FAKE_ENTRY(ggml_backend_dev_get)
FAKE_ENTRY(ggml_backend_load)
#if !defined(FAKE_OMIT_LOAD_ALL)
FAKE_VARIABLE(char fake_backend_dir[4096] = {0})
FAKE_EXPORT void ggml_backend_load_all_from_path(const char* dir) {
  unsigned i = 0;
  for (; dir[i] != '\0' && i + 1 < sizeof fake_backend_dir; ++i) fake_backend_dir[i] = dir[i];
  fake_backend_dir[i] = '\0';
}
#endif
#if defined(FAKE_LOG_SETTERS)
FAKE_LOG_SETTER(ggml_log_set)
#endif
#endif

#if defined(FAKE_LIBRARY_ggml_base)
FAKE_ENTRY(ggml_backend_dev_type)
FAKE_ENTRY(ggml_backend_dev_backend_reg)
FAKE_ENTRY(ggml_backend_reg_name)
FAKE_ENTRY(ggml_backend_dev_description)
FAKE_ENTRY(ggml_backend_dev_memory)
#if defined(FAKE_LOG_SETTERS)
FAKE_LOG_SETTER(ggml_log_set)
#endif
#endif

#if defined(FAKE_LIBRARY_llama)
FAKE_VARIABLE(int fake_backend_init_calls = 0)
FAKE_EXPORT void llama_backend_init() {
  ++fake_backend_init_calls;
}
FAKE_ENTRY(llama_supports_gpu_offload)
FAKE_ENTRY(llama_model_default_params)
FAKE_ENTRY(llama_model_load_from_file)
FAKE_ENTRY(llama_model_free)
FAKE_ENTRY(llama_context_default_params)
FAKE_ENTRY(llama_init_from_model)
FAKE_ENTRY(llama_free)
FAKE_ENTRY(llama_n_ctx)
FAKE_ENTRY(llama_n_ctx_seq)
FAKE_ENTRY(llama_model_get_vocab)
FAKE_ENTRY(llama_model_n_embd)
FAKE_ENTRY(llama_vocab_n_tokens)
FAKE_ENTRY(llama_get_logits_ith)
FAKE_ENTRY(llama_tokenize)
FAKE_ENTRY(llama_token_to_piece)
FAKE_ENTRY(llama_vocab_is_eog)
FAKE_ENTRY(llama_batch_get_one)
FAKE_ENTRY(llama_decode)
FAKE_ENTRY(llama_get_memory)
FAKE_ENTRY(llama_memory_clear)
FAKE_ENTRY(llama_memory_seq_rm)
#if !defined(FAKE_OMIT_SEQ_CP)
FAKE_ENTRY(llama_memory_seq_cp)
#endif
FAKE_ENTRY(llama_memory_seq_keep)
FAKE_ENTRY(llama_memory_seq_pos_min)
FAKE_ENTRY(llama_batch_init)
FAKE_ENTRY(llama_batch_free)
FAKE_ENTRY(llama_sampler_chain_default_params)
FAKE_ENTRY(llama_sampler_chain_init)
FAKE_ENTRY(llama_sampler_chain_add)
FAKE_ENTRY(llama_sampler_init_top_k)
FAKE_ENTRY(llama_sampler_init_top_p)
FAKE_ENTRY(llama_sampler_init_temp)
FAKE_ENTRY(llama_sampler_init_dist)
FAKE_ENTRY(llama_sampler_init_greedy)
FAKE_ENTRY(llama_sampler_sample)
FAKE_ENTRY(llama_sampler_free)
#if defined(FAKE_LOG_SETTERS)
FAKE_LOG_SETTER(llama_log_set)
#endif
#endif
