#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("usage: lumenfold-cli COMMAND ...\n");
  return 0;
}
