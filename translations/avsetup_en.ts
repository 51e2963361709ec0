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
