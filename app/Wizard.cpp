#include "app/Wizard.h"

TWizardForm* WizardForm = nullptr;

namespace {
TLabel* MakeLabel(TForm* form, const char* name, int left, int top, int width, int height,
                  const QString& caption) {
    auto* l = new TLabel(form);
    l->SetName(QString::fromLatin1(name));
    l->SetParent(form);
    l->SetBounds(left, top, width, height);
    l->SetTransparent(true);
    l->SetWordWrap(true);
    l->SetCaption(caption);
    return l;
}
} // namespace

TWizardForm::TWizardForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("WizardForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 475, 328);
    SetColor(clWhite);
    Label1 = MakeLabel(this, "Label1", 24, 24, 216, 26,
                       tr("这有助于帮助您的计算机选择最好的扬声器，麦克风和网络摄像机。"));
    Label2 = MakeLabel(this, "Label2", 24, 96, 60, 13, tr("快速入门："));
    Label3 =
        MakeLabel(this, "Label3", 24, 133, 214, 26, tr("1.关闭所有播放声音或显示视频的其他程序。"));
    Label4 =
        MakeLabel(this, "Label4", 24, 184, 214, 26,
                  tr("2.确认您的扬声器，麦克风和网络摄像机已经插好并打开，并且没有设为静音。"));
    EndLoading();
}
