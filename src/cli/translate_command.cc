#include "cli/translate_command.h"

#include <fmt/core.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <system_error>

#include "cli/progress_bar.h"
#include "platform/paths.h"
#include "translation/jobs.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

bool supported(const fs::path& file) {
  return is_supported_extension(file_extension(path_to_utf8(file)));
}

// name.<to>.<ext>: what an earlier run wrote for this target, not an input.
bool is_own_output(const fs::path& file, const std::string& to) {
  return path_to_utf8(file.stem()).ends_with("." + to);
}

// The supported files under `folder`, in name order.
std::vector<fs::path> files_in(const fs::path& folder, bool recursive, const std::string& to) {
  std::vector<fs::path> found;
  std::error_code error;
  auto take = [&](const fs::directory_entry& entry) {
    if (entry.is_regular_file(error) && supported(entry.path()) &&
        !is_own_output(entry.path(), to)) {
      found.push_back(entry.path());
    }
  };
  if (recursive) {
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) take(entry);
  } else {
    for (const auto& entry : fs::directory_iterator(folder, error)) take(entry);
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string output_for(const fs::path& input, const fs::path& root, const TranslateOptions& options,
                       bool single_file) {
  const std::string named = default_output_path(path_to_utf8(input), options.to);
  if (!options.output) return named;
  if (single_file) return *options.output;
  const fs::path relative = path_from_utf8(named).lexically_relative(root);
  return path_to_utf8(path_from_utf8(*options.output) / relative);
}

bool up_to_date(const PlannedFile& file) {
  std::error_code error;
  auto output_time = fs::last_write_time(file.output, error);
  if (error) return false;
  auto input_time = fs::last_write_time(file.input, error);
  return !error && output_time > input_time;
}

}  // namespace

TranslationPlan plan_translation(const TranslateOptions& options) {
  TranslationPlan plan;
  const bool single_file =
      options.paths.size() == 1 && !fs::is_directory(path_from_utf8(options.paths.front()));
  for (const auto& given : options.paths) {
    std::error_code error;
    const fs::path path = path_from_utf8(given);
    if (fs::is_directory(path, error)) {
      for (const auto& file : files_in(path, options.recursive, options.to)) {
        plan.files.push_back({path_to_utf8(file), output_for(file, path, options, false)});
      }
    } else if (auto found = check_input_file(given); !found) {
      plan.errors.push_back(found.error().message);
    } else {
      plan.files.push_back({given, output_for(path, path.parent_path(), options, single_file)});
    }
  }
  return plan;
}

int run_translate(const TranslateOptions& options, Backend& backend, std::stop_token stop,
                  std::FILE* out, std::FILE* err, bool terminal) {
  if (auto known = check_target_tag(options.to); !known) {
    std::fprintf(err, "%s\n", known.error().message.c_str());
    return EXIT_USAGE;
  }
  TranslationPlan plan = plan_translation(options);
  int failed = 0;
  for (const auto& message : plan.errors) {
    std::fprintf(err, "%s\n", message.c_str());
    ++failed;
  }
  for (const auto& file : plan.files) {
    if (stop.stop_requested()) return EXIT_STOPPED;
    if (!options.force && up_to_date(file)) {
      std::fprintf(err, "skipped %s: %s is newer (--force translates it again)\n",
                   file.input.c_str(), file.output.c_str());
      continue;
    }
    std::error_code ignored;
    fs::create_directories(path_from_utf8(file.output).parent_path(), ignored);
    auto job = prepare_file_job(file.input, {options.to, std::nullopt}, file.output);
    Result<std::string> result = job ? Result<std::string>() : std::unexpected(job.error());
    if (job) {
      auto generator = backend.open_call();
      if (!generator) {
        // Without an engine no later file can go either.
        std::fprintf(err, "%s\n", generator.error().message.c_str());
        return EXIT_FAILED;
      }
      ProgressBar progress(err, terminal, path_to_utf8(path_from_utf8(file.input).filename()),
                           stop);
      result = run_file_job(*job, **generator, progress);
      progress.close();
    }
    if (result) {
      std::fprintf(out, "%s\n", result->c_str());
      std::fflush(out);
    } else if (result.error().kind == ErrorKind::cancelled) {
      std::fprintf(err, "stopped; nothing was written for %s\n", file.input.c_str());
      return EXIT_STOPPED;
    } else {
      std::fprintf(err, "%s: %s\n", file.input.c_str(), result.error().message.c_str());
      ++failed;
    }
  }
  return failed == 0 ? 0 : EXIT_FAILED;
}

int run_text(const std::optional<std::string>& text, const std::string& to, Backend& backend,
             std::stop_token stop, std::FILE* out, std::FILE* err) {
  std::string input = text ? *text
                           : std::string(std::istreambuf_iterator<char>(std::cin),
                                         std::istreambuf_iterator<char>());
  if (auto checked = check_text(input); !checked) {
    std::fprintf(err, "%s\n", checked.error().message.c_str());
    return EXIT_USAGE;
  }
  if (auto known = check_target_tag(to); !known) {
    std::fprintf(err, "%s\n", known.error().message.c_str());
    return EXIT_USAGE;
  }
  auto generator = backend.open_call();
  if (!generator) {
    std::fprintf(err, "%s\n", generator.error().message.c_str());
    return EXIT_FAILED;
  }
  SilentProgress progress(stop);
  auto result = run_text_job({input, {to, std::nullopt}}, **generator, progress);
  if (!result) {
    std::fprintf(err, "%s\n", result.error().message.c_str());
    return result.error().kind == ErrorKind::cancelled ? EXIT_STOPPED : EXIT_FAILED;
  }
  std::fprintf(out, "%s\n", result->c_str());
  return 0;
}

}  // namespace quorvel
