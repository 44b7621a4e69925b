#include "widget_support.h"
#include "engine/hook.h"
#include "engine/keytable.h"
#include <QCheckBox>
#include <QListWidget>
#include <gtest/gtest.h>
#include <iostream>
namespace kq::test {
TEST(Scratch, Del) {
    Program p;
    WriteAll(TempPath("s.txt"), "x\r\n");
    p.main->LoadCommandList(QString::fromStdString(TempPath("s.txt")));
    p.main->chkEnabled->click();
    std::cerr << "auto=" << p.main->AutoBackspaceValue() << " state=" << int(p.main->chkAuto->checkState()) << "\n";
    p.keyboard.inject(MsgKeyDown, VkTab);
    std::cerr << "sends=" << p.keyboard.sends.size() << "\n";
    for (auto& s : p.keyboard.sends) for (auto& k : s) std::cerr << k.named << ":" << int(k.key) << ":" << (int)k.ch << " ";
    std::cerr << "\n";
}
}
