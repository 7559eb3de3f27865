<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutView</name>
    <message>
        <source>Connection Address:</source>
        <translation>连接地址：</translation>
    </message>
    <message>
        <source>Web Client</source>
        <translation>网页客户端</translation>
    </message>
    <message>
        <source>Scan with the phone&apos;s camera to use its browser as the remote.</source>
        <translation>用手机相机扫描，即可用手机浏览器遥控电脑。</translation>
    </message>
    <message>
        <source>Browsers paired with the old code are disconnected and must scan the new one.</source>
        <translation>用旧配对码配对的浏览器将断开连接，需重新扫描新码。</translation>
    </message>
    <message>
        <source>New Pairing Code</source>
        <translation>新配对码</translation>
    </message>
    <message>
        <source>Velmora</source>
        <translation>维莫拉</translation>
    </message>
    <message>
        <source>Support: </source>
        <translation>技术支持：</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>版本：</translation>
    </message>
    <message>
        <source>Copyright © 2026 Orvane Software. All rights reserved.</source>
        <translation>版权所有 © 2026 Orvane Software。保留所有权利。</translation>
    </message>
    <message>
        <source>Mobile Application</source>
        <translation>手机应用</translation>
    </message>
    <message>
        <source>Serve only the local network</source>
        <translation>仅服务本地网络</translation>
    </message>
    <message>
        <source>Ask before a new phone takes control</source>
        <translation>新手机接管控制前先询问</translation>
    </message>
    <message>
        <source>Always allowed phones:</source>
        <translation>始终允许的手机：</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>上次连接</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>移除</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message>
        <source>The firewall (%1) keeps phones out of ports 8888 and 6888. To let them in, run this in a terminal:</source>
        <translation>防火墙（%1）挡住了手机对端口 8888 和 6888 的连接。要放行，请在终端中运行：</translation>
    </message>
    <message>
        <source>A firewall (%1) is on and may keep phones out of ports 8888 and 6888. If the phone cannot connect, run this in a terminal:</source>
        <translation>防火墙（%1）已开启，可能挡住手机对端口 8888 和 6888 的连接。如果手机连不上，请在终端中运行：</translation>
    </message>
</context>
<context>
    <name>ConnectionQrCode</name>
    <message>
        <source>扫描连接</source>
        <translation>扫描连接</translation>
    </message>
</context>
<context>
    <name>DesktopAppEditView</name>
    <message>
        <source>Name:</source>
        <translation>名称：</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>路径：</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>选择</translation>
    </message>
    <message>
        <source>Work dir:</source>
        <translation>工作目录：</translation>
    </message>
    <message>
        <source>Parameter:</source>
        <translation>参数：</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Desktop app add</source>
        <translation>添加桌面应用</translation>
    </message>
    <message>
        <source>Desktop app edit</source>
        <translation>编辑桌面应用</translation>
    </message>
    <message>
        <source>The name cannot be empty.</source>
        <translation>名称不能为空。</translation>
    </message>
    <message>
        <source>The path cannot be empty.</source>
        <translation>路径不能为空。</translation>
    </message>
    <message>
        <source>Select Application</source>
        <translation>选择应用程序</translation>
    </message>
    <message>
        <source>Shortcuts (*.desktop *.lnk);;Programs (*)</source>
        <translation>快捷方式 (*.desktop *.lnk);;程序 (*)</translation>
    </message>
</context>
<context>
    <name>DesktopAppView</name>
    <message>
        <source>Application Center</source>
        <translation>应用中心</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>修改</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>路径</translation>
    </message>
    <message>
        <source>Please select a data item before selecting this operation.</source>
        <translation>请先选择一条数据，再执行此操作。</translation>
    </message>
    <message>
        <source>Are you sure you want to delete this data?</source>
        <translation>确定要删除这条数据吗？</translation>
    </message>
</context>
<context>
    <name>InputBackendChoice</name>
    <message>
        <source>chosen by VELMORA_INPUT_BACKEND</source>
        <translation>由 VELMORA_INPUT_BACKEND 指定</translation>
    </message>
    <message>
        <source>the compositor offers virtual pointer and keyboard</source>
        <translation>合成器提供虚拟指针和键盘</translation>
    </message>
    <message>
        <source>the portal, as chosen in the settings</source>
        <translation>按设置使用门户</translation>
    </message>
    <message>
        <source>GNOME&apos;s own remote control, without a prompt; its portal cannot remember a permission</source>
        <translation>GNOME 自带的远程控制，无需确认；其门户无法记住授权</translation>
    </message>
    <message>
        <source>GNOME&apos;s own remote control, without a prompt</source>
        <translation>GNOME 自带的远程控制，无需确认</translation>
    </message>
    <message>
        <source>the RemoteDesktop portal, which remembers the permission</source>
        <translation>远程桌面门户，会记住授权</translation>
    </message>
    <message>
        <source>Wayland session with the RemoteDesktop portal</source>
        <translation>带远程桌面门户的 Wayland 会话</translation>
    </message>
    <message>
        <source>enabled by the user</source>
        <translation>由用户启用</translation>
    </message>
    <message>
        <source>Wayland session without virtual input or portal; reaches X11 windows only</source>
        <translation>Wayland 会话没有虚拟输入或门户；只能控制 X11 窗口</translation>
    </message>
    <message>
        <source>uinput is enabled but /dev/uinput is not writable; commands are only logged</source>
        <translation>已启用 uinput，但 /dev/uinput 不可写；命令只记录到日志</translation>
    </message>
    <message>
        <source>Wayland session without virtual input or portal; commands are only logged</source>
        <translation>Wayland 会话没有虚拟输入或门户；命令只记录到日志</translation>
    </message>
    <message>
        <source>X11 session</source>
        <translation>X11 会话</translation>
    </message>
    <message>
        <source>cannot open the X display or reach a Wayland compositor; commands are only logged</source>
        <translation>无法打开 X 显示或连接 Wayland 合成器；命令只记录到日志</translation>
    </message>
    <message>
        <source>the desktop ended the session</source>
        <translation>桌面结束了会话</translation>
    </message>
    <message>
        <source>the user declined</source>
        <translation>用户拒绝了</translation>
    </message>
    <message>
        <source>the desktop declined</source>
        <translation>桌面拒绝了</translation>
    </message>
    <message>
        <source>the desktop granted neither keyboard nor pointer</source>
        <translation>桌面既未授予键盘也未授予指针</translation>
    </message>
    <message>
        <source>the compositor closed the connection</source>
        <translation>合成器关闭了连接</translation>
    </message>
    <message>
        <source>the desktop&apos;s question went unanswered</source>
        <translation>桌面的询问无人回答，已超时</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Media Library</source>
        <translation>媒体库</translation>
    </message>
    <message>
        <source>Desktop App</source>
        <translation>桌面应用</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Service Control</source>
        <translation>服务控制</translation>
    </message>
    <message>
        <source>Start Service</source>
        <translation>启动服务</translation>
    </message>
    <message>
        <source>Stop Service</source>
        <translation>停止服务</translation>
    </message>
    <message>
        <source>DemoApp</source>
        <translation>维莫拉</translation>
    </message>
    <message>
        <source>远程控制服务器</source>
        <translation>远程控制服务器</translation>
    </message>
    <message>
        <source>服务器已启动并正在监听端口：%1</source>
        <translation>服务器已启动并正在监听端口：%1</translation>
    </message>
    <message>
        <source>无法启动服务器，可能端口已被占用</source>
        <translation>无法启动服务器，可能端口已被占用</translation>
    </message>
    <message>
        <source>服务器状态: 运行中</source>
        <translation>服务器状态: 运行中</translation>
    </message>
    <message>
        <source>服务器状态: 已停止</source>
        <translation>服务器状态: 已停止</translation>
    </message>
    <message>
        <source>显示</source>
        <translation>显示</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>维莫拉</source>
        <translation>维莫拉</translation>
    </message>
    <message>
        <source>服务器状态</source>
        <translation>服务器状态</translation>
    </message>
    <message>
        <source>服务器正在运行中</source>
        <translation>服务器正在运行中</translation>
    </message>
    <message>
        <source>服务器已停止</source>
        <translation>服务器已停止</translation>
    </message>
    <message>
        <source>停止服务并退出维莫拉</source>
        <translation>停止服务并退出维莫拉</translation>
    </message>
    <message>
        <source>发送文件到手机…</source>
        <translation>发送文件到手机…</translation>
    </message>
    <message>
        <source>发送文件到手机</source>
        <translation>发送文件到手机</translation>
    </message>
    <message numerus="yes">
        <source>已从手机收到 %n 个文件</source>
        <translation>
            <numerusform>已从手机收到 %n 个文件</numerusform>
        </translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>打开文件夹</translation>
    </message>
    <message>
        <source>没有已连接的手机：请先在手机上打开网页客户端或手机应用。</source>
        <translation>没有已连接的手机：请先在手机上打开网页客户端或手机应用。</translation>
    </message>
</context>
<context>
    <name>MediaFolderEditView</name>
    <message>
        <source>Name:</source>
        <translation>名称：</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>路径：</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>选择</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Media folder add</source>
        <translation>添加媒体文件夹</translation>
    </message>
    <message>
        <source>Media folder edit</source>
        <translation>编辑媒体文件夹</translation>
    </message>
    <message>
        <source>The name cannot be empty.</source>
        <translation>名称不能为空。</translation>
    </message>
    <message>
        <source>The path cannot be empty.</source>
        <translation>路径不能为空。</translation>
    </message>
    <message>
        <source>Select Media Folder</source>
        <translation>选择媒体文件夹</translation>
    </message>
</context>
<context>
    <name>MediaLibraryView</name>
    <message>
        <source>Media Library</source>
        <translation>媒体库</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>修改</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>路径</translation>
    </message>
    <message>
        <source>Please select a data item before selecting this operation.</source>
        <translation>请先选择一条数据，再执行此操作。</translation>
    </message>
    <message>
        <source>Are you sure you want to delete this data?</source>
        <translation>确定要删除这条数据吗？</translation>
    </message>
</context>
<context>
    <name>MessageBoxView</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Sure</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>PairCommand</name>
    <message>
        <source>Velmora is not running for this user. Start it first (for example with scripts/run), then run velmora --pair again.</source>
        <translation>维莫拉未以当前用户运行。请先启动它（例如用 scripts/run），然后再运行 velmora --pair。</translation>
    </message>
    <message>
        <source>Velmora is running, but this computer has no network address a phone could reach.</source>
        <translation>维莫拉正在运行，但这台电脑没有手机可以访问的网络地址。</translation>
    </message>
    <message>
        <source>Scan this code with the phone&apos;s camera to open Velmora on %1 (%2):</source>
        <translation>用手机相机扫描此二维码，即可通过 %1（%2）打开维莫拉：</translation>
    </message>
    <message>
        <source>The link holds the pairing code: whoever has it can control this computer. New Pairing Code on the About page revokes it.</source>
        <translation>链接中含有配对码：持有它的人都能控制这台电脑。在“关于”页面点击“新配对码”即可使其失效。</translation>
    </message>
    <message>
        <source>Usage: velmora [--minimized | --pair | --send FILE... | --help] [Qt options]

Starts Velmora in the system tray (or as a window where there is no tray); a second
start shows the running copy&apos;s window.

  --minimized  start the window minimised where there is no tray
  --pair       print the running copy&apos;s pairing links with QR codes to scan with
               the phone, for a computer without a screen or over SSH
  --send FILE...  offer the files to the phone connected to the running copy
  --help       show this text
</source>
        <translation>用法: velmora [--minimized | --pair | --send 文件... | --help] [Qt 选项]

在系统托盘中启动维莫拉（没有托盘时以窗口运行）；再次启动会显示已运行实例的窗口。

  --minimized  没有托盘时以最小化的窗口启动
  --pair       打印已运行实例的配对链接及二维码，供手机扫描；
               适用于没有屏幕的电脑或通过 SSH 登录时
  --send 文件...  把文件发送给已连接到运行实例的手机
  --help       显示本说明
</translation>
    </message>
    <message>
        <source>Name the files to send: velmora --send FILE...</source>
        <translation>请指定要发送的文件：velmora --send 文件...</translation>
    </message>
    <message>
        <source>At most %1 files can be sent at once.</source>
        <translation>一次最多只能发送 %1 个文件。</translation>
    </message>
    <message>
        <source>Cannot read %1: it is not a readable file.</source>
        <translation>无法读取 %1：它不是可读的文件。</translation>
    </message>
    <message>
        <source>Velmora is not running for this user. Start it first, then run velmora --send again.</source>
        <translation>维莫拉未以当前用户运行。请先启动它，然后再运行 velmora --send。</translation>
    </message>
    <message numerus="yes">
        <source>Offered %n file(s) to the phone.</source>
        <translation>
            <numerusform>已将 %n 个文件发送到手机。</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 of the files could not be offered.</source>
        <translation>有 %1 个文件未能发送到手机。</translation>
    </message>
    <message>
        <source>No phone is connected: open the web client or the phone app first, then send again.</source>
        <translation>没有已连接的手机：请先在手机上打开网页客户端或手机应用，然后再发送。</translation>
    </message>
</context>
<context>
    <name>PhoneConsentView</name>
    <message>
        <source>Velmora: new phone</source>
        <translation>维莫拉：新手机</translation>
    </message>
    <message>
        <source>A new phone wants to control this PC</source>
        <translation>有新手机想要控制这台电脑</translation>
    </message>
    <message>
        <source>&amp;Refuse</source>
        <translation>拒绝(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Allow</source>
        <translation>允许(&amp;A)</translation>
    </message>
    <message>
        <source>Al&amp;ways Allow</source>
        <translation>始终允许(&amp;W)</translation>
    </message>
    <message>
        <source>The phone at %1 is connected and waits. Once allowed, it can move the pointer, type, open files and start programs on this PC.</source>
        <translation>地址为 %1 的手机已连接，正在等待。允许后，它可以在这台电脑上移动指针、输入文字、打开文件和启动程序。</translation>
    </message>
    <message numerus="yes">
        <source>Without an answer the phone is turned away in %n second(s).</source>
        <translation>
            <numerusform>若无人回答，%n 秒后将拒绝这台手机。</numerusform>
        </translation>
    </message>
    <message>
        <source>A program of another user of this PC (from %1) is connected and waits. Once allowed, it can move the pointer, type, open files and start programs as you, for this connection only.</source>
        <translation>这台电脑上另一位用户的程序（来自 %1）已连接，正在等待。允许后，它能以你的身份移动指针、输入文字、打开文件和启动程序，仅限这一次连接。</translation>
    </message>
</context>
<context>
    <name>SettingView</name>
    <message>
        <source>Audio Player</source>
        <translation>音频播放器</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>路径：</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>选择</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>默认</translation>
    </message>
    <message>
        <source>Video Player</source>
        <translation>视频播放器</translation>
    </message>
    <message>
        <source>Select Audio Player</source>
        <translation>选择音频播放器</translation>
    </message>
    <message>
        <source>Select Video Player</source>
        <translation>选择视频播放器</translation>
    </message>
    <message>
        <source>Media Player (*)</source>
        <translation>媒体播放器 (*)</translation>
    </message>
    <message>
        <source>Pointer and Keyboard</source>
        <translation>指针和键盘</translation>
    </message>
    <message>
        <source>Ask Again</source>
        <translation>再次请求</translation>
    </message>
    <message>
        <source>X11 (XTest)</source>
        <translation>X11 (XTest)</translation>
    </message>
    <message>
        <source>Wayland virtual pointer and keyboard</source>
        <translation>Wayland 虚拟指针和键盘</translation>
    </message>
    <message>
        <source>Desktop remote-control portal</source>
        <translation>桌面远程控制门户</translation>
    </message>
    <message>
        <source>Virtual input devices (uinput)</source>
        <translation>虚拟输入设备 (uinput)</translation>
    </message>
    <message>
        <source>None: phone input is only logged</source>
        <translation>无：手机输入只记录到日志</translation>
    </message>
    <message>
        <source>ready</source>
        <translation>就绪</translation>
    </message>
    <message>
        <source>waiting for your permission</source>
        <translation>等待你的许可</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>已拒绝</translation>
    </message>
    <message>
        <source>not available</source>
        <translation>不可用</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>GNOME remote control</source>
        <translation>GNOME 远程控制</translation>
    </message>
    <message>
        <source>Files from the Phone</source>
        <translation>来自手机的文件</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>文件夹：</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>选择…</translation>
    </message>
    <message>
        <source>Largest file:</source>
        <translation>单个文件上限：</translation>
    </message>
    <message>
        <source> MiB</source>
        <translation> MiB</translation>
    </message>
    <message>
        <source>Recently received (double-click opens the folder)</source>
        <translation>最近收到（双击打开所在文件夹）</translation>
    </message>
    <message>
        <source>Open Folder</source>
        <translation>打开文件夹</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>大小</translation>
    </message>
    <message>
        <source>Received</source>
        <translation>收到时间</translation>
    </message>
    <message>
        <source>Clipboard</source>
        <translation>剪贴板</translation>
    </message>
    <message>
        <source>Allow the phone to read the PC&apos;s clipboard</source>
        <translation>允许手机读取电脑的剪贴板</translation>
    </message>
    <message>
        <source>Folder for Files from the Phone</source>
        <translation>选择存放手机文件的文件夹</translation>
    </message>
    <message>
        <source>Power and Session</source>
        <translation>电源与会话</translation>
    </message>
    <message>
        <source>Allow the phone to lock, sleep or shut down this PC</source>
        <translation>允许手机锁定、睡眠或关闭这台电脑</translation>
    </message>
    <message>
        <source>Type characters your keyboard layout lacks by pasting them</source>
        <translation>键盘布局中没有的字符通过粘贴输入</translation>
    </message>
</context>
</TS>
