// The web client's words in the phone's language. English is written in the page and the
// scripts and is the key of the table below, so a text the table lacks still shows, in English.
//   page:    <span data-i18n>Pad</span>, or data-i18n-attr="aria-label placeholder" for attributes
//   scripts: t('Opening {name}', { name })
// Every English text needs its Simplified Chinese here; tests/mobile/i18n.test.mjs lists the
// missing ones. Words the PC's window also shows are translated as it translates them.

export const ZH_CN = {
    // status and pairing
    'connecting': '正在连接',
    'link lost · reconnecting': '连接中断 · 正在重新连接',
    'Reconnecting now': '正在立即重新连接',
    'offline · retrying': '离线 · 正在重试',
    'The PC does not answer at any address it had. Scan its QR code again.': '电脑在它用过的所有地址上都没有应答。请重新扫描它的二维码。',
    'Not connected: the text stays here until you send it again.': '未连接：文字保留在此处，直到您再次发送。',
    'connected': '已连接',
    'not paired': '未配对',
    'not paired / wrong token': '未配对 / 配对码错误',
    'another phone took over · tap to reconnect': '另一部手机已接管 · 轻点重新连接',
    'offline · retry in {seconds} s': '离线 · {seconds} 秒后重试',
    'sealed': '已加密',
    'Sealed: nobody else on the network can read or change what this page sends.':
        '已加密：网络上的其他人无法读取或篡改此页面发送的内容。',
    'page out of date · tap to reload': '页面已过期 · 轻点重新加载',
    'Velmora on the PC is too old for this page': '电脑上的 Velmora 版本过旧，无法配合此页面',
    'Retry': '重试',
    "Scan the pairing code on the PC's About page, or paste the pairing link or token.":
        '扫描电脑“关于”页上的配对二维码，或粘贴配对链接或配对码。',
    'Pairing token': '配对码',
    'Pair': '配对',
    'That is not a pairing token (32 hexadecimal characters).': '这不是配对码（应为 32 位十六进制字符）。',
    // tabs and sections
    'Sections': '分区',
    'Pad': '触控板',
    'Keys': '按键',
    'Media': '媒体',
    'Apps': '应用',
    'Settings': '设置',
    // touch pad
    'Touch pad': '触控板',
    'Move with one finger · tap to click': '单指移动 · 轻点单击',
    'Two fingers: scroll · tap for right click': '双指滚动 · 双指轻点右键单击',
    'Hold to drag': '按住拖动',
    'Dragging': '拖动中',
    'Left': '左键',
    'Middle button': '中键',
    'Right': '右键',
    // keyboard
    'Keyboard': '键盘',
    'Type here to type on the PC': '在此输入，文字会输入到电脑上',
    'Text to type on the PC': '要输入到电脑上的文字',
    'Enter': '回车',
    'Modifiers': '修饰键',
    'tap to hold for the next key': '轻点后作用于下一个按键',
    'Function keys': '功能键',
    'Shortcuts': '快捷键',
    'Backspace': '退格',
    'Up arrow': '上箭头',
    'Down arrow': '下箭头',
    'Left arrow': '左箭头',
    'Right arrow': '右箭头',
    'Copy': '复制',
    'Paste': '粘贴',
    'Cut': '剪切',
    'Undo': '撤销',
    'Select all': '全选',
    'Save': '保存',
    'Switch': '切换窗口',
    'Start': '开始菜单',
    'Desktop': '桌面',
    'Find': '查找',
    'New tab': '新标签页',
    'Close tab': '关闭标签页',
    'Close window': '关闭窗口',
    'Tap again to close the active window': '再点一次关闭当前窗口',
    'Closed the active window': '已关闭当前窗口',
    // media
    'Back': '返回',
    'Refresh': '刷新',
    'Playback': '播放控制',
    'Previous': '上一首',
    'Play / pause': '播放 / 暂停',
    'Next': '下一首',
    'Volume down': '音量减',
    'Mute': '静音',
    'Volume up': '音量加',
    'Media folders': '媒体文件夹',
    'Now playing': '正在播放',
    'Play': '播放',
    'Pause': '暂停',
    'Position': '播放进度',
    'Volume': '音量',
    'Opening…': '正在打开…',
    'Paused': '已暂停',
    'Stopped': '已停止',
    'Try again': '重试',
    'No answer from the PC.': '电脑没有回应。',
    'Connect to the PC to browse its media folders.': '连接电脑后即可浏览它的媒体文件夹。',
    'Opening {name}': '正在打开 {name}',
    'This folder is not available on the PC.': '电脑上没有这个文件夹。',
    'No media folders yet. Add them in Velmora on the PC (Media Library), then press Apply.':
        '还没有媒体文件夹。请在电脑上的维莫拉中添加（媒体库），然后点击“应用”。',
    'No media files here.': '这里没有媒体文件。',
    'Only the first entries are shown.': '只显示了前面的条目。',
    // applications
    'Applications': '应用程序',
    'Connect to the PC to see its applications.': '连接电脑后即可查看它的应用程序。',
    'Starting {name}': '正在启动 {name}',
    '{count} registered': '已登记 {count} 个',
    'No applications yet. Add them in Velmora on the PC (Desktop App), then press Apply.':
        '还没有应用程序。请在电脑上的维莫拉中添加（桌面应用），然后点击“应用”。',
    // the PC's volume and clipboard
    'PC volume': '电脑音量',
    'Unmute': '取消静音',
    'No sound server on the PC': '电脑上没有声音服务',
    'No sound output on the PC': '电脑上没有声音输出设备',
    'Clipboard': '剪贴板',
    'Text for the PC clipboard': '要放到电脑剪贴板的文本',
    'Paste or type text for the PC': '粘贴或输入要发送到电脑的文本',
    'Send to PC': '发送到电脑',
    'Get PC clipboard': '获取电脑剪贴板',
    'Copy': '复制',
    'Copied': '已复制',
    'Select the text and copy it by hand': '请选中文本后手动复制',
    'On the PC clipboard': '已放到电脑剪贴板',
    'Not connected': '未连接',
    'PC clipboard at {time}': '电脑剪贴板（{time}）',
    "Reading the PC's clipboard is switched off in Velmora's settings on the PC.":
        '电脑上维莫拉的设置中已关闭读取电脑剪贴板。',
    'The text is larger than 1 MiB.': '文本超过 1 MiB。',
    "The PC's clipboard holds no text.": '电脑剪贴板中没有文本。',
    "The PC's clipboard holds text that is not valid UTF-8.": '电脑剪贴板中的文本不是有效的 UTF-8。',
    'The text holds characters that are not valid.': '文本中含有无效字符。',
    "The PC's clipboard cannot be reached.": '无法访问电脑剪贴板。',
    // typed text the PC could not type
    "{count} characters did not reach the PC: its keyboard layout lacks them, and pasting them is off in Velmora's settings on the PC.":
        '有 {count} 个字符未能输入到电脑：电脑的键盘布局中没有这些字符，且电脑上维莫拉的设置中已关闭粘贴输入。',
    "{count} characters did not reach the PC: its keyboard layout lacks them, and its clipboard could not take them.":
        '有 {count} 个字符未能输入到电脑：电脑的键盘布局中没有这些字符，且无法通过电脑剪贴板输入。',
    // settings sheet
    'Done': '完成',
    'Pointer speed': '指针速度',
    'Scroll speed': '滚动速度',
    'Natural scrolling (content follows the fingers)': '自然滚动（内容跟随手指）',
    'Vibrate on click': '点击时振动',
    'Keep screen on': '保持屏幕常亮',
    'Forget pairing': '忘记配对',
    // files between the phone and the PC
    'Files': '文件',
    'Send files to the PC': '发送文件到电脑',
    'Choose files to send to the PC': '选择要发送到电脑的文件',
    'From the PC': '来自电脑',
    'To the PC': '发送到电脑',
    'Cancel': '取消',
    'Cancel all': '全部取消',
    'Waiting': '等待中',
    'Sending': '正在发送',
    '{done} of {total} · {speed}/s · {left} left': '{done} / {total} · {speed}/秒 · 剩余 {left}',
    'Saved on the PC as {name}': '已保存到电脑：{name}',
    'Sent': '已发送',
    'Cancelled': '已取消',
    'Too large for the PC': '文件太大，电脑不接收',
    'Not enough free space on the PC': '电脑上的可用空间不足',
    'The PC cannot write to its folder': '电脑无法写入接收文件夹',
    'Refused by the PC': '电脑拒绝了此文件',
    'Failed': '失败',
    'Download': '下载',
    // the user's own buttons
    'My buttons': '我的按钮',
    'Edit': '编辑',
    'Add button': '添加按钮',
    'Make buttons for the shortcuts you use every day.': '为每天使用的快捷键制作按钮。',
    'Name': '名称',
    'For example Ctrl+Shift+T, or Tab, Tab': '例如 Ctrl+Shift+T，或 Tab, Tab',
    'Held throughout (optional)': '全程按住（可选）',
    'For example Alt': '例如 Alt',
    'Delete': '删除',
    'Move {name} up': '上移 {name}',
    'Move {name} down': '下移 {name}',
    'Edit {name}': '编辑 {name}',
    'Give the button a name of 1 to 32 characters.': '请为按钮取一个 1 到 32 个字符的名称。',
    'Write the keys to press, for example Ctrl+Shift+T.': '请写出要按的键，例如 Ctrl+Shift+T。',
    'A key name is not known. Use names like Ctrl, Alt, Shift, Win, Tab, Enter, F5, A.':
        '有无法识别的键名。请使用 Ctrl、Alt、Shift、Win、Tab、Enter、F5、A 这样的名称。',
    'At most 4 keys at once, and a held key not again in a step.': '一次最多 4 个键，且按住的键不能在步骤中重复。',
    'At most 16 steps.': '最多 16 步。',
    'The PC did not take these keys.': '电脑不接受这些按键。',
    'There are already 64 buttons.': '已有 64 个按钮。',
    'That button is gone; the list has been reloaded.': '该按钮已不存在，列表已重新加载。',
    'The PC could not store the change.': '电脑无法保存此更改。',
    'The PC did not understand the change.': '电脑无法理解此更改。',
    // the PC's power and session
    'This PC': '这台电脑',
    "Locking, sleeping and shutting down from the phone are switched off in Velmora's settings on the PC.":
        '电脑上的 Velmora 设置已关闭从手机锁定、睡眠和关机。',
    'Yes': '是',
    'Lock': '锁定',
    'Lock the PC?': '锁定电脑？',
    'Sleep': '睡眠',
    'Put the PC to sleep?': '让电脑睡眠？',
    'Restart': '重启',
    'Restart the PC? Unsaved work may be lost.': '重启电脑？未保存的工作可能丢失。',
    'Shut down': '关机',
    'Shut down the PC? Unsaved work may be lost.': '关闭电脑？未保存的工作可能丢失。',
    'Log out': '注销',
    'Log out of the PC? Unsaved work may be lost.': '从电脑注销？未保存的工作可能丢失。',
    'The PC refused.': '电脑拒绝了此操作。',
    'Nothing on the PC can do this.': '电脑上没有能执行此操作的服务。',
    'The PC did not understand the request.': '电脑无法理解此请求。',
    // the presenter
    'Present': '演示',
    'elapsed': '已用时间',
    'Next slide': '下一张',
    'Previous slide': '上一张',
    'Start show': '开始放映',
    'Black screen': '黑屏',
    'End show': '结束放映',
};

const TABLES = { 'zh-CN': ZH_CN };
let table = null;
let current = 'en';

// 'zh-CN' for the first of the browser's languages that is Simplified Chinese, 'en' for English
// or when the browser asks for neither. Traditional Chinese (zh-TW, zh-HK, zh-Hant) is passed over.
export function pickLanguage(languages) {
    for (const tag of languages ?? []) {
        const [language, ...rest] = String(tag).toLowerCase().split(/[-_]/);
        if (language === 'en') return 'en';
        if (language !== 'zh') continue;
        const traditional = rest.includes('hant') || (!rest.includes('hans') && rest.some((part) => ['tw', 'hk', 'mo'].includes(part)));
        if (!traditional) return 'zh-CN';
    }
    return 'en';
}

export function setLanguage(language) {
    current = TABLES[language] ? language : 'en';
    table = TABLES[current] ?? null;
    return current;
}

export function language() {
    return current;
}

// The text in the current language, with {name} placeholders filled from `values`.
export function t(text, values) {
    const words = table?.[text] ?? text;
    if (!values) return words;
    return words.replace(/\{(\w+)\}/g, (whole, name) => (name in values ? String(values[name]) : whole));
}

// Translates the marked elements under `root`; the English originals are kept in the attributes,
// so running it again (after a language change) starts from them.
export function translatePage(root) {
    for (const node of root.querySelectorAll('[data-i18n]')) {
        const key = node.getAttribute('data-i18n') || node.textContent.trim();
        node.setAttribute('data-i18n', key);
        node.textContent = t(key);
    }
    for (const node of root.querySelectorAll('[data-i18n-attr]')) {
        for (const attribute of node.getAttribute('data-i18n-attr').split(/\s+/).filter(Boolean)) {
            const keep = `data-i18n-${attribute}`;
            const key = node.getAttribute(keep) ?? node.getAttribute(attribute);
            if (key === null) continue;
            node.setAttribute(keep, key);
            node.setAttribute(attribute, t(key));
        }
    }
}
