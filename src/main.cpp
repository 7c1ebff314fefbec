// vesk-connector: the tool server that lets the agent in one Vesk chat reach the other chats.
// Start-up fixes the process-wide values; the request loop then serves standard input until it
// ends and every tool call has answered.
#include "front/loop.h"
#include "front/startup.h"

int main(int argc, char** argv) {
  vesk::startup(argc, argv);
  vesk::loop();
  return 0;
}
