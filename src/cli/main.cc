// quorvel: the terminal face of the translator. Translates files, folders and texts with the
// same jobs as the MCP server, on this machine's model.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <thread>

#include "cli/doctor_command.h"
#include "cli/model_pull.h"
#include "cli/translate_command.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  quorvel::ignore_write_signals();
  quorvel::use_binary_standard_streams();
  quorvel::return_large_blocks_to_system();
  // Before any thread starts, so that only the watcher below takes these signals.
  quorvel::block_stop_signals();
  std::stop_source stop;
  // Ctrl-C stops the translation at once (nothing half-written stays); a second one ends the
  // process.
  std::thread([&stop] {
    quorvel::wait_stop_signal();
    stop.request_stop();
    quorvel::die_of_signal(quorvel::wait_stop_signal());
  }).detach();

  CLI::App app{"Translates documents and texts with the model on this machine."};
  app.require_subcommand(1);

  quorvel::TranslateOptions translate;
  auto* files = app.add_subcommand("translate", "translate files and folders");
  files
      ->add_option("paths", translate.paths,
                   "files (docx, pptx, xlsx, odt, ods, odp, srt, vtt, txt, md) and folders")
      ->required();
  files->add_option("--to", translate.to, "target language tag, such as fr or zh-TW")->required();
  files->add_option("-o,--output", translate.output,
                    "output file for one file; output folder for several");
  files->add_flag("-r,--recursive", translate.recursive, "include sub-folders");
  files->add_flag("-f,--force", translate.force, "translate even when the output is newer");

  std::optional<std::string> text;
  std::string text_to;
  auto* texts = app.add_subcommand("text", "translate a text (standard input without TEXT)");
  texts->add_option("text", text, "the text");
  texts->add_option("--to", text_to, "target language tag")->required();

  auto* doctor = app.add_subcommand("doctor", "check the engine, the model and the machine");

  quorvel::PullOptions pull;
  auto* model = app.add_subcommand("model", "get the translation model");
  model->require_subcommand(1);
  auto* model_pull = model->add_subcommand(
      "pull", "download a GGUF model as the default model (without URL: where to get it)");
  model_pull->add_option("url", pull.url, "the model's download address (http or https)");
  model_pull->add_option("--sha256", pull.sha256, "the checksum the download must have");

  // CLI11 takes the arguments last one first, without the program's name.
  std::vector<std::string> arguments = quorvel::command_line_arguments(argc, argv);
  if (!arguments.empty()) app.name(arguments.front());
  std::reverse(arguments.begin(), arguments.end());
  if (!arguments.empty()) arguments.pop_back();
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : quorvel::EXIT_USAGE;
  }

  if (*doctor) return quorvel::run_doctor(stdout);
  if (*model_pull) {
    return quorvel::run_model_pull(pull, stop.get_token(), stdout, stderr,
                                   quorvel::stderr_is_terminal());
  }
  quorvel::LocalBackend local;
  std::unique_ptr<quorvel::Backend> remote = quorvel::remote_backend_from_env();
  quorvel::Backend& backend = remote ? *remote : local;
  if (*files) {
    return quorvel::run_translate(translate, backend, stop.get_token(), stdout, stderr,
                                  quorvel::stderr_is_terminal());
  }
  return quorvel::run_text(text, text_to, backend, stop.get_token(), stdout, stderr);
}
