// readersim: a simulated card reader on a pseudo-terminal.
//
// Prints the path a host opens (a symbolic link to the pty) as its first line
// on stdout and serves until SIGINT or SIGTERM (or, with --stdin-control,
// until stdin ends). With --exec it runs one program against the reader
// instead and exits with that program's status.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/simulator.h"

namespace {

std::mutex outMu;

// Exit status of readersim --replay --exec when the host left the recording.
constexpr int kDivergedStatus = 99;

void usage(std::FILE* to) {
  std::fprintf(to,
               "usage: readersim [options] [--exec PROGRAM ARGS...]\n"
               "\n"
               "A simulated card reader (TK61 Mifare module and the reader's other\n"
               "device families) on a pseudo-terminal. Prints the path to open as the\n"
               "first line on stdout, then serves until SIGINT/SIGTERM.\n"
               "\n"
               "options:\n"
               "  --speeds both|fast|slow  line speeds answered (57600 / 9600; default both)\n"
               "  --fast-speed 57600|38400 the line speed taken as fast (38400: hosts under Wine)\n"
               "  --module N               module number answered to 0xA1 (default 17)\n"
               "  --paced                  each byte takes its wire time at the line speed\n"
               "  --link PATH              make the link at PATH (default: a fresh\n"
               "                           temporary folder + /reader)\n"
               "  --fault SPEC             queue a fault (repeatable), SPEC as after the\n"
               "                           control word 'fault', e.g. --fault 'noack cmd=22'\n"
               "  --do 'COMMAND'           run a control command at start (repeatable),\n"
               "                           e.g. --do 'card insert ...'\n"
               "  --control                read control commands from stdin, one a line;\n"
               "                           answers go to stdout, one a line ('error: ...'\n"
               "                           when a command failed); 'quit' stops\n"
               "  --stdin-control          as --control, and stop when stdin ends\n"
               "  --verbose                log every exchange to stderr\n"
               "  --replay TRACE           answer the host's exchanges, in order, with the\n"
               "                           ones recorded in TRACE (an ORVIX32_TRACE file):\n"
               "                           the same bytes, the same link failures, at any\n"
               "                           line speed. The first exchange that differs is\n"
               "                           reported on stderr, then the reader is silent\n"
               "  --replay-timing          completed exchanges take their recorded time\n"
               "  --replay-continue        after a divergence the card models answer on\n"
               "  --replay-loop            after the last exchange start again at the first\n"
               "  --exec PROGRAM ARGS...   run PROGRAM with ORVIX32_COM1 = the link and\n"
               "                           ORVIX32_COM2 ... ORVIX32_COM10 = missing paths;\n"
               "                           exit with its status (the path is not printed);\n"
               "                           with --replay, exit 99 when the replay diverged\n"
               "  --help                   this text\n"
               "\n"
               "A switch also takes a value: --paced=yes, --verbose=no (yes|no|on|off|\n"
               "true|false|1|0).\n"
               "\n"
               "control commands:\n");
}

std::vector<std::string> splitWords(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

// Runs one control command; false (with a message on stderr) when it failed.
bool runCommand(readersim::Simulator& sim, const std::string& text, const char* origin) {
  std::string out;
  auto words = splitWords(text);
  bool known = !words.empty() && sim.control(words, out);
  if (!known || out.rfind("error:", 0) == 0) {
    std::lock_guard<std::mutex> lk(outMu);
    std::fprintf(stderr, "readersim: %s '%s': %s\n", origin, text.c_str(),
                 known ? out.c_str() : "unknown command");
    return false;
  }
  return true;
}

void controlLoop(readersim::Simulator& sim, bool stopAtEof) {
  std::string line;
  while (std::getline(std::cin, line)) {
    auto words = splitWords(line);
    if (words.empty()) continue;
    if (words.size() == 1 && (words[0] == "quit" || words[0] == "exit")) {
      std::lock_guard<std::mutex> lk(outMu);
      std::fputs("bye\n", stdout);
      std::fflush(stdout);
      kill(getpid(), SIGTERM);
      return;
    }
    std::string out;
    bool known = sim.control(words, out);
    std::lock_guard<std::mutex> lk(outMu);
    if (!known)
      std::printf("error: unknown command: %s\n", line.c_str());
    else
      std::printf("%s\n", out.empty() ? "ok" : out.c_str());
    std::fflush(stdout);
  }
  if (stopAtEof) kill(getpid(), SIGTERM);
}

bool parseByte(const std::string& text, std::uint8_t& value) {
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end || v < 0 || v > 255) return false;
  value = static_cast<std::uint8_t>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  readersim::Options opt;
  std::vector<std::string> faults, dos;
  bool control = false, stopAtEof = false, verbose = false, help = false;
  std::string replayPath;
  std::vector<char*> execArgs;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string value;
    bool hasInline = false;
    if (a.rfind("--", 0) == 0) {
      auto eq = a.find('=');
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        hasInline = true;
      }
    }
    auto need = [&](std::string& out) {
      if (hasInline) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) {
        std::fprintf(stderr, "readersim: %s wants a value\n", a.c_str());
        return false;
      }
      out = argv[++i];
      return true;
    };
    // A switch alone is on; --switch=VALUE says which.
    auto flag = [&](bool& sw) {
      if (!hasInline) return sw = true;
      for (const char* y : {"yes", "on", "true", "1"})
        if (value == y) return sw = true;
      for (const char* n : {"no", "off", "false", "0"})
        if (value == n) {
          sw = false;
          return true;
        }
      std::fprintf(stderr, "readersim: %s=%s: a switch takes yes or no (try --help)\n", a.c_str(),
                   value.c_str());
      return false;
    };
    std::string v;
    bool on = false;
    if (a == "--help" || a == "-h") {
      if (!flag(help)) return 2;
    } else if (a == "--fast-speed") {
      if (!need(v)) return 2;
      opt.fastSpeed = std::atoi(v.c_str());
      if (opt.fastSpeed != 57600 && opt.fastSpeed != 38400) {
        std::fprintf(stderr, "readersim: --fast-speed 57600|38400\n");
        return 2;
      }
    } else if (a == "--speeds") {
      if (!need(v)) return 2;
      if (v == "both")
        opt.speeds = readersim::Speeds::Both;
      else if (v == "fast")
        opt.speeds = readersim::Speeds::FastOnly;
      else if (v == "slow")
        opt.speeds = readersim::Speeds::SlowOnly;
      else {
        std::fprintf(stderr, "readersim: --speeds both|fast|slow\n");
        return 2;
      }
    } else if (a == "--module") {
      if (!need(v)) return 2;
      if (!parseByte(v, opt.moduleNumber)) {
        std::fprintf(stderr, "readersim: --module wants 0 ... 255\n");
        return 2;
      }
    } else if (a == "--paced") {
      if (!flag(opt.paced)) return 2;
    } else if (a == "--replay") {
      if (!need(replayPath)) return 2;
      if (replayPath.empty()) {
        std::fprintf(stderr, "readersim: --replay wants a trace file\n");
        return 2;
      }
    } else if (a == "--replay-timing") {
      if (!flag(opt.replayTiming)) return 2;
    } else if (a == "--replay-continue") {
      if (!flag(opt.replayContinue)) return 2;
    } else if (a == "--replay-loop") {
      if (!flag(opt.replayLoop)) return 2;
    } else if (a == "--link") {
      if (!need(v)) return 2;
      // Whatever is there is someone's: never replaced.
      struct stat st {};
      if (lstat(v.c_str(), &st) == 0) {
        std::fprintf(stderr, "readersim: --link %s: the path exists; give a new one\n", v.c_str());
        return 2;
      }
      opt.linkPath = v;
    } else if (a == "--fault") {
      if (!need(v)) return 2;
      faults.push_back(v);
    } else if (a == "--do") {
      if (!need(v)) return 2;
      dos.push_back(v);
    } else if (a == "--control") {
      if (!flag(control)) return 2;
    } else if (a == "--stdin-control") {
      if (!flag(on)) return 2;
      stopAtEof = on;
      control = control || on;
    } else if (a == "--verbose" || a == "-v") {
      if (!flag(verbose)) return 2;
    } else if (a == "--exec") {
      if (hasInline || i + 1 >= argc) {
        std::fprintf(stderr, "readersim: --exec wants a program\n");
        return 2;
      }
      for (int j = i + 1; j < argc; ++j) execArgs.push_back(argv[j]);
      execArgs.push_back(nullptr);
      break;
    } else {
      std::fprintf(stderr, "readersim: unknown option %s (try --help)\n", argv[i]);
      return 2;
    }
  }

  if (!replayPath.empty()) {
    std::string err;
    opt.replay.emplace();
    std::string note;
    if (!readersim::loadTrace(replayPath, *opt.replay, err, &note)) {
      std::fprintf(stderr, "readersim: %s\n", err.c_str());
      return 2;
    }
    if (!note.empty())
      std::fprintf(stderr, "readersim: %s: %s\n", replayPath.c_str(), note.c_str());
    opt.report = [](const std::string& text) {
      std::lock_guard<std::mutex> lk(outMu);
      std::fprintf(stderr, "readersim: %s\n", text.c_str());
    };
  } else if (opt.replayTiming || opt.replayContinue || opt.replayLoop) {
    std::fprintf(stderr, "readersim: --replay-timing, -continue and -loop go with --replay\n");
    return 2;
  }
  if (verbose) {
    opt.log = [](const std::string& line) {
      std::lock_guard<std::mutex> lk(outMu);
      std::fprintf(stderr, "readersim: %s\n", line.c_str());
    };
  }
  auto sim = readersim::makeStandardSimulator(opt);
  if (help) {
    usage(stdout);
    std::istringstream lines(sim->help());
    std::string line;
    while (std::getline(lines, line)) std::printf("  %s\n", line.c_str());
    return 0;
  }

  // Signals are taken by sigwait in this thread only.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGCHLD);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  if (!sim->start()) {
    std::fprintf(stderr, "readersim: cannot open the reader's line%s%s: %s\n",
                 opt.linkPath.empty() ? "" : " at ", opt.linkPath.c_str(),
                 sim->startError().c_str());
    return 1;
  }
  bool ok = true;
  for (const auto& f : faults) ok = runCommand(*sim, "fault " + f, "--fault") && ok;
  for (const auto& d : dos) ok = runCommand(*sim, d, "--do") && ok;
  if (!ok) {
    sim->stop();
    return 2;
  }

  pid_t child = -1;
  if (!execArgs.empty()) {
    child = fork();
    if (child < 0) {
      std::perror("readersim: fork");
      sim->stop();
      return 1;
    }
    if (child == 0) {
      setenv("ORVIX32_COM1", sim->path().c_str(), 1);
      for (int n = 2; n <= 10; ++n) {
        std::string name = "ORVIX32_COM" + std::to_string(n);
        std::string value = "/nonexistent/readersim-com" + std::to_string(n);
        setenv(name.c_str(), value.c_str(), 1);
      }
      sigset_t none;
      sigemptyset(&none);
      pthread_sigmask(SIG_SETMASK, &none, nullptr);
      signal(SIGPIPE, SIG_DFL);
      execvp(execArgs[0], execArgs.data());
      std::fprintf(stderr, "readersim: cannot run %s: %s\n", execArgs[0], std::strerror(errno));
      _exit(127);
    }
  } else {
    std::lock_guard<std::mutex> lk(outMu);
    std::printf("%s\n", sim->path().c_str());
    std::fflush(stdout);
  }

  if (control) std::thread([&sim, stopAtEof] { controlLoop(*sim, stopAtEof); }).detach();

  int exitCode = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (sig == SIGCHLD) {
      if (child < 0) continue;
      int st = 0;
      pid_t r = waitpid(child, &st, WNOHANG);
      if (r != child) continue;
      exitCode = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      if (!sim->replayReport().empty()) exitCode = kDivergedStatus;
      break;
    }
    if (child > 0) {
      kill(child, sig);  // let the program end; its SIGCHLD ends us
      continue;
    }
    break;
  }
  sim->stop();
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(exitCode);
}
