// vesk-connector: the tool server that lets the agent in one Vesk chat reach the other chats.
// Start-up takes the command line and the environment; the request loop then serves standard input
// until it ends and every tool call has answered.
#include "front/loop.h"
#include "front/memory.h"
#include "front/startup.h"

int main(int argc, char** argv) {
  vesk::tuneMemory();
  vesk::startup(argc, argv);
  vesk::loop();
  return 0;
}
