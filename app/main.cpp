// The process entry of updater.exe.
#include "app/updater.h"

int main() {
  app::Updater updater;
  return updater.Run();
}
