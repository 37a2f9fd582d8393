// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up baseline: a bare Qt Widgets program that shows one empty window of the main
// window's size (with a menu bar) and ends, as the program does with EVM_QUIT_AFTER_SHOW=1.
#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("&File"));
    window.setFixedSize(739, 565 + window.menuBar()->sizeHint().height());
    window.show();
    std::fputs("shown\n", stdout);
    std::fflush(stdout);
    return 0;
}
