// A private X server for the tests that need a display: Xvfb on a display
// number it picks itself (-displayfd), ended when the helper goes away.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

class Xvfb {
public:
  // Empty display() when the server did not come up within 15 seconds.
  // `screen` is WxHxD.
  explicit Xvfb(const std::string& binary, const std::string& screen = "800x600x24")
  {
    int fds[2];
    if (pipe(fds) != 0)
      return;
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test
      close(fds[0]);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      const std::string fd = std::to_string(fds[1]);
      execl(binary.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
            "-nolisten", "tcp", "-noreset", (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      return;
    }
    std::string number;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0)
        continue;
      char c;
      if (read(fds[0], &c, 1) != 1)
        break;
      if (c == '\n') {
        name = ":" + number;
        break;
      }
      number += c;
    }
    close(fds[0]);
  }

  ~Xvfb()
  {
    if (pid <= 0)
      return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }

  const std::string& display() const { return name; }

private:
  pid_t pid = -1;
  std::string name;
};
