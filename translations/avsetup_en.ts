<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CommandLine</name>
    <message>
        <source>帮助您选择并调节扬声器、麦克风和网络摄像机的向导。</source>
        <translation>A wizard that helps you choose and adjust your speakers, microphone and web camera.</translation>
    </message>
    <message>
        <source>多余的参数：%1</source>
        <translation>Unexpected argument: %1</translation>
    </message>
    <message>
        <source>不打开窗口，检查扬声器、麦克风和摄像头后退出（另可用 --json、--speaker、--microphone、--camera、--seconds）。</source>
        <translation>Check the speaker, microphone and camera without a window, then exit (see also --json, --speaker, --microphone, --camera, --seconds).</translation>
    </message>
</context>
<context>
    <name>DeviceCheck</name>
    <message>
        <source>用法：avsetup --check [--json] [--speaker 设备] [--microphone 设备] [--camera 设备] [--seconds 秒数]
设备可以是列表中的位置（从 0 开始）、列表中的名称，或声音服务器上的设备描述或名称。
</source>
        <translation>Usage: avsetup --check [--json] [--speaker DEVICE] [--microphone DEVICE] [--camera DEVICE] [--seconds SECONDS]
DEVICE is a position in the list (from 0), the list's text, or the device's description or name on the sound server.
</translation>
    </message>
    <message>
        <source>%1 后面缺少值。</source>
        <translation>%1 needs a value.</translation>
    </message>
    <message>
        <source>--seconds 需要 1 到 %1 之间的秒数。</source>
        <translation>--seconds needs a number of seconds from 1 to %1.</translation>
    </message>
    <message>
        <source>未知的参数：%1</source>
        <translation>Unknown argument: %1</translation>
    </message>
    <message>
        <source>找不到扬声器“%1”。</source>
        <translation>No speaker “%1” was found.</translation>
    </message>
    <message>
        <source>未找到扬声器或耳机。</source>
        <translation>No speakers or headphones were found.</translation>
    </message>
    <message>
        <source>扬声器已静音。</source>
        <translation>The speaker is muted.</translation>
    </message>
    <message>
        <source>扬声器音量为 0。</source>
        <translation>The speaker volume is 0.</translation>
    </message>
    <message>
        <source>扬声器无法播放测试声音。</source>
        <translation>The speaker cannot play the test sound.</translation>
    </message>
    <message>
        <source>麦克风没有听到扬声器播放的测试声音。</source>
        <translation>The microphone did not hear the test sound the speaker played.</translation>
    </message>
    <message>
        <source>找不到麦克风“%1”。</source>
        <translation>No microphone “%1” was found.</translation>
    </message>
    <message>
        <source>未找到麦克风。</source>
        <translation>No microphone was found.</translation>
    </message>
    <message>
        <source>麦克风已静音。</source>
        <translation>The microphone is muted.</translation>
    </message>
    <message>
        <source>麦克风音量为 0。</source>
        <translation>The microphone volume is 0.</translation>
    </message>
    <message>
        <source>麦克风只录到了静音。</source>
        <translation>The microphone recorded only silence.</translation>
    </message>
    <message>
        <source>麦克风音量太大，声音失真。</source>
        <translation>The microphone is too loud: the sound is distorted.</translation>
    </message>
    <message>
        <source>找不到摄像头“%1”。</source>
        <translation>No camera “%1” was found.</translation>
    </message>
    <message>
        <source>摄像头没有送出画面。</source>
        <translation>The camera delivered no pictures.</translation>
    </message>
    <message>
        <source>扬声器：%1
</source>
        <translation>Speaker: %1
</translation>
    </message>
    <message>
        <source>  测试声音：已播放
</source>
        <translation>  test sound: played
</translation>
    </message>
    <message>
        <source>  测试声音：无法播放
</source>
        <translation>  test sound: could not be played
</translation>
    </message>
    <message>
        <source>  麦克风听到了测试声音，往返延迟 %1 毫秒
</source>
        <translation>  the microphone heard the test sound, round-trip delay %1 ms
</translation>
    </message>
    <message>
        <source>  麦克风没有听到测试声音
</source>
        <translation>  the microphone did not hear the test sound
</translation>
    </message>
    <message>
        <source>  音量：%1%
</source>
        <translation>  volume: %1%
</translation>
    </message>
    <message>
        <source>  已静音
</source>
        <translation>  muted
</translation>
    </message>
    <message>
        <source>扬声器：无
</source>
        <translation>Speaker: none
</translation>
    </message>
    <message>
        <source>麦克风：%1
</source>
        <translation>Microphone: %1
</translation>
    </message>
    <message>
        <source>  峰值电平：%1 dBFS
</source>
        <translation>  peak level: %1 dBFS
</translation>
    </message>
    <message>
        <source>  峰值电平：无（完全静音）
</source>
        <translation>  peak level: none (complete silence)
</translation>
    </message>
    <message>
        <source>  有声音
</source>
        <translation>  sound came
</translation>
    </message>
    <message>
        <source>  没有声音
</source>
        <translation>  no sound
</translation>
    </message>
    <message>
        <source>  声音失真（音量太大）
</source>
        <translation>  distorted (the volume is too high)
</translation>
    </message>
    <message>
        <source>麦克风：无
</source>
        <translation>Microphone: none
</translation>
    </message>
    <message>
        <source>摄像头：%1
  %2 秒内 %3 帧，%4×%5
</source>
        <translation>Camera: %1
  %3 frames in %2 s, %4×%5
</translation>
    </message>
    <message>
        <source>摄像头：无
</source>
        <translation>Camera: none
</translation>
    </message>
    <message>
        <source>结果：一切正常。
</source>
        <translation>Result: everything works.
</translation>
    </message>
    <message>
        <source>结果：需要注意：%1
</source>
        <translation>Result: needs attention: %1
</translation>
    </message>
</context>
<context>
    <name>Failures</name>
    <message>
        <source>声音服务器已停止或没有运行，无法测试。请启动声音服务器（如 PulseAudio 或 PipeWire），然后再试一次。</source>
        <translation>The sound server has stopped or is not running, so the test cannot run. Start the sound server (such as PulseAudio or PipeWire) and try again.</translation>
    </message>
    <message>
        <source>未找到扬声器或耳机。请插好扬声器或耳机，然后再点“播放声音”。</source>
        <translation>No speakers or headphones were found. Plug in your speakers or headphones, then click “Play sound” again.</translation>
    </message>
    <message>
        <source>扬声器或耳机已拔出或无法使用，声音测试已停止。请重新插好，或在列表中选择其他设备，然后再点“播放声音”。</source>
        <translation>The speakers or headphones were unplugged or cannot be used, so the sound test stopped. Plug them in again or choose another device in the list, then click “Play sound” again.</translation>
    </message>
    <message>
        <source>未找到麦克风。请插好麦克风，然后再点“测试”。</source>
        <translation>No microphone was found. Plug in your microphone, then click “Test” again.</translation>
    </message>
    <message>
        <source>麦克风已拔出或无法使用，测试已停止。请重新插好，或在列表中选择其他麦克风，然后再点“测试”。</source>
        <translation>The microphone was unplugged or cannot be used, so the test stopped. Plug it in again or choose another microphone in the list, then click “Test” again.</translation>
    </message>
    <message>
        <source>无法读取测试声音文件 TestSnd.wav。请重新安装本程序。</source>
        <translation>The test sound file TestSnd.wav cannot be read. Please reinstall this program.</translation>
    </message>
    <message>
        <source>无法保存设置：文件 %1 不能写入。请检查这个文件及其文件夹是否允许写入，然后再点“完成”。</source>
        <translation>The settings cannot be saved: the file %1 cannot be written. Check that the file and its folder may be written to, then click “Finish” again.</translation>
    </message>
</context>
<context>
    <name>TAudioInForm</name>
    <message>
        <source>选择您要使用的麦克风：</source>
        <translation>Choose the microphone you want to use:</translation>
    </message>
    <message>
        <source>测试</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>当您对着麦克风说话时，指向黄色区域，则表示麦克风已经调节正常。</source>
        <translation>Speak into the microphone: when the meter reaches the yellow zone, the microphone is set up correctly.</translation>
    </message>
    <message>
        <source>如果有问题，请检查麦克风已经插好并打开，并且没有设为静音。</source>
        <translation>If there is a problem, check that the microphone is plugged in, switched on and not muted.</translation>
    </message>
    <message>
        <source>麦克风音量指示</source>
        <translation>Microphone level</translation>
    </message>
    <message>
        <source>麦克风音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>平衡</source>
        <translation>Balance</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>&amp;Select</source>
        <translation>&amp;Select</translation>
    </message>
    <message>
        <source>&amp;Mute</source>
        <translation>&amp;Mute</translation>
    </message>
    <message>
        <source>声音服务器没有运行。启动后本页会自动更新。</source>
        <translation>The sound server is not running. This page updates by itself once it starts.</translation>
    </message>
    <message>
        <source>未找到麦克风。插好后本页会自动更新。</source>
        <translation>No microphone was found. This page updates by itself once one is plugged in.</translation>
    </message>
    <message>
        <source>录音回放</source>
        <translation>Record &amp;&amp; play</translation>
    </message>
    <message>
        <source>取消静音</source>
        <translation>Unmute</translation>
    </message>
    <message>
        <source>自动调节麦克风音量</source>
        <translation>Adjust the microphone volume automatically</translation>
    </message>
    <message>
        <source>麦克风“%1”已静音。</source>
        <translation>The microphone “%1” is muted.</translation>
    </message>
    <message>
        <source>麦克风“%1”的音量为 0。</source>
        <translation>The volume of the microphone “%1” is 0.</translation>
    </message>
    <message>
        <source>麦克风“%1”3 秒内只录到了静音。请检查它是否插好，是否被设为静音。</source>
        <translation>The microphone “%1” recorded only silence for 3 s. Check that it is plugged in and not muted.</translation>
    </message>
    <message>
        <source>麦克风“%1”的声音太大，已经失真。请调低麦克风音量。</source>
        <translation>The microphone “%1” is so loud that the sound is distorted. Turn the microphone volume down.</translation>
    </message>
    <message>
        <source>录音中 %1 秒</source>
        <translation>Recording %1 s</translation>
    </message>
    <message>
        <source>回放中 %1 秒</source>
        <translation>Playing %1 s</translation>
    </message>
</context>
<context>
    <name>TAudioOutForm</name>
    <message>
        <source>选择您要使用的扬声器或耳机：</source>
        <translation>Choose your speakers or headphones:</translation>
    </message>
    <message>
        <source>播放声音</source>
        <translation>Play sound</translation>
    </message>
    <message>
        <source>如果有问题，请检查扬声器或耳机已经插好并打开，并调节到适当的音量。</source>
        <translation>If there is a problem, check that the speakers or headphones are plugged in, switched on and set to a suitable volume.</translation>
    </message>
    <message>
        <source>扬声器音量</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>声音服务器没有运行。启动后本页会自动更新。</source>
        <translation>The sound server is not running. This page updates by itself once it starts.</translation>
    </message>
    <message>
        <source>未找到扬声器或耳机。插好后本页会自动更新。</source>
        <translation>No speakers or headphones were found. This page updates by itself once they are plugged in.</translation>
    </message>
    <message>
        <source>取消静音</source>
        <translation>Unmute</translation>
    </message>
    <message>
        <source>正在用麦克风“%1”听……</source>
        <translation>Listening with the microphone “%1”…</translation>
    </message>
    <message>
        <source>麦克风“%1”听到了测试声音，往返延迟 %2 毫秒。</source>
        <translation>The microphone “%1” heard the test sound; round-trip delay %2 ms.</translation>
    </message>
    <message>
        <source>麦克风“%1”没有听到测试声音。请检查音量和静音。</source>
        <translation>The microphone “%1” did not hear the test sound. Check the volume and mute.</translation>
    </message>
    <message>
        <source>扬声器“%1”已静音。</source>
        <translation>The speaker “%1” is muted.</translation>
    </message>
    <message>
        <source>扬声器“%1”的音量为 0。</source>
        <translation>The volume of the speaker “%1” is 0.</translation>
    </message>
</context>
<context>
    <name>TAudioVideoForm</name>
    <message>
        <source>下一步(&amp;N)</source>
        <translation>&amp;Next</translation>
    </message>
    <message>
        <source>完成(&amp;N)</source>
        <translation>Fi&amp;nish</translation>
    </message>
    <message>
        <source>音频视频设置</source>
        <translation>Audio and Video Setup</translation>
    </message>
    <message>
        <source>上一步(&amp;B)</source>
        <translation>&amp;Back</translation>
    </message>
    <message>
        <source>取消(&amp;C)</source>
        <translation>&amp;Cancel</translation>
    </message>
</context>
<context>
    <name>TCameraControlsDialog</name>
    <message>
        <source>默认值</source>
        <translation>Defaults</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>TVideoForm</name>
    <message>
        <source>摄像机</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>摄像机预览</source>
        <translation>Camera preview</translation>
    </message>
    <message>
        <source>测试</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>调整角度和焦距以确保左侧显示的图像时您想要的效果。</source>
        <translation>Adjust the angle and focus until the picture on the left looks the way you want.</translation>
    </message>
    <message>
        <source>选项</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>%1（已断开）</source>
        <translation>%1 (disconnected)</translation>
    </message>
    <message>
        <source>未找到摄像头。请连接摄像头，它会自动出现在列表中。</source>
        <translation>No camera found. Connect a camera: it appears in the list by itself.</translation>
    </message>
    <message>
        <source>摄像头“%1”已断开。请重新连接它，或选择另一个摄像头。</source>
        <translation>The camera “%1” is disconnected. Connect it again, or choose another camera.</translation>
    </message>
    <message>
        <source>摄像头正被另一个程序使用，所以这里无法显示它的图像。
请关闭正在使用摄像头的程序（例如视频通话或录像软件），然后再点“测试”。</source>
        <translation>The camera is being used by another program, so its picture cannot be shown here.
Close the program that uses the camera (a video call or recording program, for example), then click “Test” again.</translation>
    </message>
    <message>
        <source>摄像头没有响应。
请检查它是否连接好，然后再点“测试”。</source>
        <translation>The camera does not respond.
Check that it is connected, then click “Test” again.</translation>
    </message>
    <message>
        <source>无法显示摄像头的图像。
请再点一次“测试”，或选择另一个摄像头。</source>
        <translation>The camera&apos;s picture cannot be shown.
Click “Test” again, or choose another camera.</translation>
    </message>
</context>
<context>
    <name>TWizardForm</name>
    <message>
        <source>这有助于帮助您的计算机选择最好的扬声器，麦克风和网络摄像机。</source>
        <translation>This helps you choose the best speakers, microphone and web camera for your computer.</translation>
    </message>
    <message>
        <source>快速入门：</source>
        <translation>Quick start:</translation>
    </message>
    <message>
        <source>1.关闭所有播放声音或显示视频的其他程序。</source>
        <translation>1. Close every other program that plays sound or shows video.</translation>
    </message>
    <message>
        <source>2.确认您的扬声器，麦克风和网络摄像机已经插好并打开，并且没有设为静音。</source>
        <translation>2. Make sure your speakers, microphone and web camera are plugged in, switched on and not muted.</translation>
    </message>
</context>
</TS>
