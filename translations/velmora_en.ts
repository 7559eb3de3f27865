<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>AboutView</name>
    <message>
        <source>Connection Address:</source>
        <translation>Connection Address:</translation>
    </message>
    <message>
        <source>Web Client</source>
        <translation>Web Client</translation>
    </message>
    <message>
        <source>Scan with the phone&apos;s camera to use its browser as the remote.</source>
        <translation>Scan with the phone&apos;s camera to use its browser as the remote.</translation>
    </message>
    <message>
        <source>Browsers paired with the old code are disconnected and must scan the new one.</source>
        <translation>Browsers paired with the old code are disconnected and must scan the new one.</translation>
    </message>
    <message>
        <source>New Pairing Code</source>
        <translation>New Pairing Code</translation>
    </message>
    <message>
        <source>Velmora</source>
        <translation>Velmora</translation>
    </message>
    <message>
        <source>Support: </source>
        <translation>Support: </translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Copyright © 2026 Orvane Software. All rights reserved.</source>
        <translation>Copyright © 2026 Orvane Software. All rights reserved.</translation>
    </message>
    <message>
        <source>Mobile Application</source>
        <translation>Mobile Application</translation>
    </message>
    <message>
        <source>Serve only the local network</source>
        <translation>Serve only the local network</translation>
    </message>
    <message>
        <source>Ask before a new phone takes control</source>
        <translation>Ask before a new phone takes control</translation>
    </message>
    <message>
        <source>Always allowed phones:</source>
        <translation>Always allowed phones:</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>Last seen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>The firewall (%1) keeps phones out of ports 8888 and 6888. To let them in, run this in a terminal:</source>
        <translation>The firewall (%1) keeps phones out of ports 8888 and 6888. To let them in, run this in a terminal:</translation>
    </message>
    <message>
        <source>A firewall (%1) is on and may keep phones out of ports 8888 and 6888. If the phone cannot connect, run this in a terminal:</source>
        <translation>A firewall (%1) is on and may keep phones out of ports 8888 and 6888. If the phone cannot connect, run this in a terminal:</translation>
    </message>
</context>
<context>
    <name>ConnectionQrCode</name>
    <message>
        <source>扫描连接</source>
        <translation>Scan to connect</translation>
    </message>
</context>
<context>
    <name>DesktopAppEditView</name>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>Path:</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>Work dir:</source>
        <translation>Work dir:</translation>
    </message>
    <message>
        <source>Parameter:</source>
        <translation>Parameter:</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Desktop app add</source>
        <translation>Desktop app add</translation>
    </message>
    <message>
        <source>Desktop app edit</source>
        <translation>Desktop app edit</translation>
    </message>
    <message>
        <source>The name cannot be empty.</source>
        <translation>The name cannot be empty.</translation>
    </message>
    <message>
        <source>The path cannot be empty.</source>
        <translation>The path cannot be empty.</translation>
    </message>
    <message>
        <source>Select Application</source>
        <translation>Select Application</translation>
    </message>
    <message>
        <source>Shortcuts (*.desktop *.lnk);;Programs (*)</source>
        <translation>Shortcuts (*.desktop *.lnk);;Programs (*)</translation>
    </message>
</context>
<context>
    <name>DesktopAppView</name>
    <message>
        <source>Application Center</source>
        <translation>Application Center</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>Modify</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>Please select a data item before selecting this operation.</source>
        <translation>Please select a data item before selecting this operation.</translation>
    </message>
    <message>
        <source>Are you sure you want to delete this data?</source>
        <translation>Are you sure you want to delete this data?</translation>
    </message>
</context>
<context>
    <name>InputBackendChoice</name>
    <message>
        <source>chosen by VELMORA_INPUT_BACKEND</source>
        <translation>chosen by VELMORA_INPUT_BACKEND</translation>
    </message>
    <message>
        <source>the compositor offers virtual pointer and keyboard</source>
        <translation>the compositor offers virtual pointer and keyboard</translation>
    </message>
    <message>
        <source>the portal, as chosen in the settings</source>
        <translation>the portal, as chosen in the settings</translation>
    </message>
    <message>
        <source>GNOME&apos;s own remote control, without a prompt; its portal cannot remember a permission</source>
        <translation>GNOME&apos;s own remote control, without a prompt; its portal cannot remember a permission</translation>
    </message>
    <message>
        <source>GNOME&apos;s own remote control, without a prompt</source>
        <translation>GNOME&apos;s own remote control, without a prompt</translation>
    </message>
    <message>
        <source>the RemoteDesktop portal, which remembers the permission</source>
        <translation>the RemoteDesktop portal, which remembers the permission</translation>
    </message>
    <message>
        <source>Wayland session with the RemoteDesktop portal</source>
        <translation>Wayland session with the RemoteDesktop portal</translation>
    </message>
    <message>
        <source>enabled by the user</source>
        <translation>enabled by the user</translation>
    </message>
    <message>
        <source>Wayland session without virtual input or portal; reaches X11 windows only</source>
        <translation>Wayland session without virtual input or portal; reaches X11 windows only</translation>
    </message>
    <message>
        <source>uinput is enabled but /dev/uinput is not writable; commands are only logged</source>
        <translation>uinput is enabled but /dev/uinput is not writable; commands are only logged</translation>
    </message>
    <message>
        <source>Wayland session without virtual input or portal; commands are only logged</source>
        <translation>Wayland session without virtual input or portal; commands are only logged</translation>
    </message>
    <message>
        <source>X11 session</source>
        <translation>X11 session</translation>
    </message>
    <message>
        <source>cannot open the X display or reach a Wayland compositor; commands are only logged</source>
        <translation>cannot open the X display or reach a Wayland compositor; commands are only logged</translation>
    </message>
    <message>
        <source>the desktop ended the session</source>
        <translation>the desktop ended the session</translation>
    </message>
    <message>
        <source>the user declined</source>
        <translation>the user declined</translation>
    </message>
    <message>
        <source>the desktop declined</source>
        <translation>the desktop declined</translation>
    </message>
    <message>
        <source>the desktop granted neither keyboard nor pointer</source>
        <translation>the desktop granted neither keyboard nor pointer</translation>
    </message>
    <message>
        <source>the compositor closed the connection</source>
        <translation>the compositor closed the connection</translation>
    </message>
    <message>
        <source>the desktop&apos;s question went unanswered</source>
        <translation>the desktop&apos;s question went unanswered</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Media Library</source>
        <translation>Media Library</translation>
    </message>
    <message>
        <source>Desktop App</source>
        <translation>Desktop App</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>Service Control</source>
        <translation>Service Control</translation>
    </message>
    <message>
        <source>Start Service</source>
        <translation>Start Service</translation>
    </message>
    <message>
        <source>Stop Service</source>
        <translation>Stop Service</translation>
    </message>
    <message>
        <source>DemoApp</source>
        <translation>Velmora</translation>
    </message>
    <message>
        <source>远程控制服务器</source>
        <translation>Remote control server</translation>
    </message>
    <message>
        <source>服务器已启动并正在监听端口：%1</source>
        <translation>The server is running and listening on port %1</translation>
    </message>
    <message>
        <source>无法启动服务器，可能端口已被占用</source>
        <translation>The server cannot start; the port may already be in use</translation>
    </message>
    <message>
        <source>服务器状态: 运行中</source>
        <translation>Server status: running</translation>
    </message>
    <message>
        <source>服务器状态: 已停止</source>
        <translation>Server status: stopped</translation>
    </message>
    <message>
        <source>显示</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>维莫拉</source>
        <translation>Velmora</translation>
    </message>
    <message>
        <source>服务器状态</source>
        <translation>Server status</translation>
    </message>
    <message>
        <source>服务器正在运行中</source>
        <translation>The server is running</translation>
    </message>
    <message>
        <source>服务器已停止</source>
        <translation>The server is stopped</translation>
    </message>
    <message>
        <source>停止服务并退出维莫拉</source>
        <translation>Stop the service and quit Velmora</translation>
    </message>
    <message>
        <source>发送文件到手机…</source>
        <translation>Send Files to Phone…</translation>
    </message>
    <message>
        <source>发送文件到手机</source>
        <translation>Send Files to Phone</translation>
    </message>
    <message numerus="yes">
        <source>已从手机收到 %n 个文件</source>
        <translation>
            <numerusform>%n file received from the phone</numerusform>
            <numerusform>%n files received from the phone</numerusform>
        </translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>没有已连接的手机：请先在手机上打开网页客户端或手机应用。</source>
        <translation>No phone is connected: open the web client or the phone app first.</translation>
    </message>
</context>
<context>
    <name>MediaFolderEditView</name>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>Path:</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Media folder add</source>
        <translation>Media folder add</translation>
    </message>
    <message>
        <source>Media folder edit</source>
        <translation>Media folder edit</translation>
    </message>
    <message>
        <source>The name cannot be empty.</source>
        <translation>The name cannot be empty.</translation>
    </message>
    <message>
        <source>The path cannot be empty.</source>
        <translation>The path cannot be empty.</translation>
    </message>
    <message>
        <source>Select Media Folder</source>
        <translation>Select Media Folder</translation>
    </message>
</context>
<context>
    <name>MediaLibraryView</name>
    <message>
        <source>Media Library</source>
        <translation>Media Library</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>Modify</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>Please select a data item before selecting this operation.</source>
        <translation>Please select a data item before selecting this operation.</translation>
    </message>
    <message>
        <source>Are you sure you want to delete this data?</source>
        <translation>Are you sure you want to delete this data?</translation>
    </message>
</context>
<context>
    <name>MessageBoxView</name>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Sure</source>
        <translation>Sure</translation>
    </message>
</context>
<context>
    <name>PairCommand</name>
    <message>
        <source>Velmora is not running for this user. Start it first (for example with scripts/run), then run velmora --pair again.</source>
        <translation>Velmora is not running for this user. Start it first (for example with scripts/run), then run velmora --pair again.</translation>
    </message>
    <message>
        <source>Velmora is running, but this computer has no network address a phone could reach.</source>
        <translation>Velmora is running, but this computer has no network address a phone could reach.</translation>
    </message>
    <message>
        <source>Scan this code with the phone&apos;s camera to open Velmora on %1 (%2):</source>
        <translation>Scan this code with the phone&apos;s camera to open Velmora on %1 (%2):</translation>
    </message>
    <message>
        <source>The link holds the pairing code: whoever has it can control this computer. New Pairing Code on the About page revokes it.</source>
        <translation>The link holds the pairing code: whoever has it can control this computer. New Pairing Code on the About page revokes it.</translation>
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
        <translation>Usage: velmora [--minimized | --pair | --send FILE... | --help] [Qt options]

Starts Velmora in the system tray (or as a window where there is no tray); a second
start shows the running copy&apos;s window.

  --minimized  start the window minimised where there is no tray
  --pair       print the running copy&apos;s pairing links with QR codes to scan with
               the phone, for a computer without a screen or over SSH
  --send FILE...  offer the files to the phone connected to the running copy
  --help       show this text
</translation>
    </message>
    <message>
        <source>Name the files to send: velmora --send FILE...</source>
        <translation>Name the files to send: velmora --send FILE...</translation>
    </message>
    <message>
        <source>At most %1 files can be sent at once.</source>
        <translation>At most %1 files can be sent at once.</translation>
    </message>
    <message>
        <source>Cannot read %1: it is not a readable file.</source>
        <translation>Cannot read %1: it is not a readable file.</translation>
    </message>
    <message>
        <source>Velmora is not running for this user. Start it first, then run velmora --send again.</source>
        <translation>Velmora is not running for this user. Start it first, then run velmora --send again.</translation>
    </message>
    <message numerus="yes">
        <source>Offered %n file(s) to the phone.</source>
        <translation>
            <numerusform>Offered %n file to the phone.</numerusform>
            <numerusform>Offered %n files to the phone.</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 of the files could not be offered.</source>
        <translation>%1 of the files could not be offered.</translation>
    </message>
    <message>
        <source>No phone is connected: open the web client or the phone app first, then send again.</source>
        <translation>No phone is connected: open the web client or the phone app first, then send again.</translation>
    </message>
</context>
<context>
    <name>PhoneConsentView</name>
    <message>
        <source>Velmora: new phone</source>
        <translation>Velmora: new phone</translation>
    </message>
    <message>
        <source>A new phone wants to control this PC</source>
        <translation>A new phone wants to control this PC</translation>
    </message>
    <message>
        <source>&amp;Refuse</source>
        <translation>&amp;Refuse</translation>
    </message>
    <message>
        <source>&amp;Allow</source>
        <translation>&amp;Allow</translation>
    </message>
    <message>
        <source>Al&amp;ways Allow</source>
        <translation>Al&amp;ways Allow</translation>
    </message>
    <message>
        <source>The phone at %1 is connected and waits. Once allowed, it can move the pointer, type, open files and start programs on this PC.</source>
        <translation>The phone at %1 is connected and waits. Once allowed, it can move the pointer, type, open files and start programs on this PC.</translation>
    </message>
    <message numerus="yes">
        <source>Without an answer the phone is turned away in %n second(s).</source>
        <translation>
            <numerusform>Without an answer the phone is turned away in %n second.</numerusform>
            <numerusform>Without an answer the phone is turned away in %n seconds.</numerusform>
        </translation>
    </message>
    <message>
        <source>A program of another user of this PC (from %1) is connected and waits. Once allowed, it can move the pointer, type, open files and start programs as you, for this connection only.</source>
        <translation>A program of another user of this PC (from %1) is connected and waits. Once allowed, it can move the pointer, type, open files and start programs as you, for this connection only.</translation>
    </message>
</context>
<context>
    <name>SettingView</name>
    <message>
        <source>Audio Player</source>
        <translation>Audio Player</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>Path:</translation>
    </message>
    <message>
        <source>Select</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>Video Player</source>
        <translation>Video Player</translation>
    </message>
    <message>
        <source>Select Audio Player</source>
        <translation>Select Audio Player</translation>
    </message>
    <message>
        <source>Select Video Player</source>
        <translation>Select Video Player</translation>
    </message>
    <message>
        <source>Media Player (*)</source>
        <translation>Media Player (*)</translation>
    </message>
    <message>
        <source>Pointer and Keyboard</source>
        <translation>Pointer and Keyboard</translation>
    </message>
    <message>
        <source>Ask Again</source>
        <translation>Ask Again</translation>
    </message>
    <message>
        <source>X11 (XTest)</source>
        <translation>X11 (XTest)</translation>
    </message>
    <message>
        <source>Wayland virtual pointer and keyboard</source>
        <translation>Wayland virtual pointer and keyboard</translation>
    </message>
    <message>
        <source>Desktop remote-control portal</source>
        <translation>Desktop remote-control portal</translation>
    </message>
    <message>
        <source>Virtual input devices (uinput)</source>
        <translation>Virtual input devices (uinput)</translation>
    </message>
    <message>
        <source>None: phone input is only logged</source>
        <translation>None: phone input is only logged</translation>
    </message>
    <message>
        <source>ready</source>
        <translation>ready</translation>
    </message>
    <message>
        <source>waiting for your permission</source>
        <translation>waiting for your permission</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>refused</translation>
    </message>
    <message>
        <source>not available</source>
        <translation>not available</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>GNOME remote control</source>
        <translation>GNOME remote control</translation>
    </message>
    <message>
        <source>Files from the Phone</source>
        <translation>Files from the Phone</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>Folder:</translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation>Choose…</translation>
    </message>
    <message>
        <source>Largest file:</source>
        <translation>Largest file:</translation>
    </message>
    <message>
        <source> MiB</source>
        <translation> MiB</translation>
    </message>
    <message>
        <source>Recently received (double-click opens the folder)</source>
        <translation>Recently received (double-click opens the folder)</translation>
    </message>
    <message>
        <source>Open Folder</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>Received</source>
        <translation>Received</translation>
    </message>
    <message>
        <source>Clipboard</source>
        <translation>Clipboard</translation>
    </message>
    <message>
        <source>Allow the phone to read the PC&apos;s clipboard</source>
        <translation>Allow the phone to read the PC&apos;s clipboard</translation>
    </message>
    <message>
        <source>Folder for Files from the Phone</source>
        <translation>Folder for Files from the Phone</translation>
    </message>
    <message>
        <source>Power and Session</source>
        <translation>Power and Session</translation>
    </message>
    <message>
        <source>Allow the phone to lock, sleep or shut down this PC</source>
        <translation>Allow the phone to lock, sleep or shut down this PC</translation>
    </message>
    <message>
        <source>Type characters your keyboard layout lacks by pasting them</source>
        <translation>Type characters your keyboard layout lacks by pasting them</translation>
    </message>
</context>
</TS>
