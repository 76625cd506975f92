// readersim: a simulated card reader on a pseudo-terminal.
//
// Prints the path a host opens (a symbolic link to the pty) as its first line
// on stdout and serves until SIGINT or SIGTERM (or, with --stdin-control,
// until stdin ends). With --exec it runs one program against the reader
// instead and exits with that program's status.
#include <signal.h>
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
               "  --exec PROGRAM ARGS...   run PROGRAM with ORVIX32_COM1 = the link and\n"
               "                           ORVIX32_COM2 ... ORVIX32_COM10 = missing paths;\n"
               "                           exit with its status (the path is not printed)\n"
               "  --help                   this text\n"
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
    std::string v;
    if (a == "--help" || a == "-h") {
      help = true;
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
      opt.paced = true;
    } else if (a == "--link") {
      if (!need(v)) return 2;
      opt.linkPath = v;
    } else if (a == "--fault") {
      if (!need(v)) return 2;
      faults.push_back(v);
    } else if (a == "--do") {
      if (!need(v)) return 2;
      dos.push_back(v);
    } else if (a == "--control") {
      control = true;
    } else if (a == "--stdin-control") {
      control = stopAtEof = true;
    } else if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else if (a == "--exec") {
      if (i + 1 >= argc) {
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
    std::fprintf(stderr, "readersim: cannot open a pseudo-terminal%s%s\n",
                 opt.linkPath.empty() ? "" : " at ", opt.linkPath.c_str());
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
