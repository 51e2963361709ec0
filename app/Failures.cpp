#include "app/Failures.h"

#include "app/AudioVideoSet.h"
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"

#include <QCoreApplication>

QString ExplainFailure(const QString& className, const QString& message) {
    // The streaming components name a failing platform call first ("WaveOutWrite:", "WaveIn:").
    const bool output = className == QLatin1String("EAvWaveOutError") ||
                        message.startsWith(QLatin1String("WaveOut"));
    const bool input =
        className == QLatin1String("EAvWaveInError") || message.startsWith(QLatin1String("WaveIn"));
    if (output || input) {
        // A failing platform call (the device went mid-test, or refused to open) or none at all.
        const bool call = message.startsWith(QLatin1String("Wave"));
        // Every device is gone with the server; the message must not blame the speaker then.
        if (!AudioBackend().ServerRunning())
            return QCoreApplication::translate(
                "Failures",
                "声音服务器已停止或没有运行，无法测试。请启动声音服务器（如 PulseAudio 或 "
                "PipeWire），然后再试一次。");
        if (output && !call && waveOutGetNumDevs() == 0)
            return QCoreApplication::translate(
                "Failures", "未找到扬声器或耳机。请插好扬声器或耳机，然后再点“播放声音”。");
        if (output)
            return QCoreApplication::translate(
                "Failures",
                "扬声器或耳机已拔出或无法使用，声音测试已停止。请重新插好，或在列表中选择"
                "其他设备，然后再点“播放声音”。");
        if (!call && waveInGetNumDevs() == 0)
            return QCoreApplication::translate("Failures",
                                               "未找到麦克风。请插好麦克风，然后再点“测试”。");
        return QCoreApplication::translate(
            "Failures", "麦克风已拔出或无法使用，测试已停止。请重新插好，或在列表中选择其他麦克风，"
                        "然后再点“测试”。");
    }
    if (className == QLatin1String("EAvWaveError"))
        return QCoreApplication::translate("Failures",
                                           "无法读取测试声音文件 TestSnd.wav。请重新安装本程序。");
    if (className == QLatin1String("EIniFileException")) {
        const QString file = AudioVideoForm ? AudioVideoForm->SettingsFileName() : QString();
        return QCoreApplication::translate(
                   "Failures",
                   "无法保存设置：文件 %1 不能写入。请检查这个文件及其文件夹是否允许写入，然后再点"
                   "“完成”。")
            .arg(file);
    }
    return {};
}
