<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>ErrorBox</name>
    <message>
        <source>不是普通文件</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>&apos;%1&apos; 不是有效的整数值</source>
        <translation>&apos;%1&apos; is not a valid whole number</translation>
    </message>
</context>
<context>
    <name>PortInfo</name>
    <message>
        <source>设备不存在</source>
        <translation>no such device</translation>
    </message>
    <message>
        <source>设备不存在（%1）</source>
        <translation>no such device (%1)</translation>
    </message>
    <message>
        <source>没有权限，请把用户加入 %1 组后重新登录</source>
        <translation>permission denied: add the user to the group %1 and log in again</translation>
    </message>
    <message>
        <source>没有权限：只有用户 %1 可以读写这个设备</source>
        <translation>permission denied: only the user %1 may read and write this device</translation>
    </message>
    <message>
        <source>没有权限</source>
        <translation>permission denied</translation>
    </message>
    <message>
        <source>被其他程序占用</source>
        <translation>held by another program</translation>
    </message>
    <message>
        <source>已被本程序打开</source>
        <translation>open in this program already</translation>
    </message>
    <message>
        <source>未知主机（%1）</source>
        <translation>unknown host (%1)</translation>
    </message>
    <message>
        <source>连接被拒绝（%1）</source>
        <translation>connection refused (%1)</translation>
    </message>
    <message>
        <source>无应答（%1）</source>
        <translation>no answer (%1)</translation>
    </message>
    <message>
        <source>设备已断开</source>
        <translation>the device went away</translation>
    </message>
    <message>
        <source>串口发送受阻</source>
        <translation>the line is held</translation>
    </message>
    <message>
        <source>没有设备对应这个端口号</source>
        <translation>no device for this port number</translation>
    </message>
    <message>
        <source>%1（网络线路）</source>
        <translation>%1 (network line)</translation>
    </message>
    <message>
        <source>%1（设备不存在）</source>
        <translation>%1 (no such device)</translation>
    </message>
    <message>
        <source>；上次打开失败：%1</source>
        <translation>; last open failed: %1</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
</context>
<context>
    <name>TMainForm</name>
    <message>
        <source>断开</source>
        <translation>Off line</translation>
    </message>
    <message>
        <source>连接状态</source>
        <translation>link state</translation>
    </message>
    <message>
        <source>脱离</source>
        <translation>Not live</translation>
    </message>
    <message>
        <source>实时状态</source>
        <translation>real-time state</translation>
    </message>
    <message>
        <source>未锁定</source>
        <translation>No lock</translation>
    </message>
    <message>
        <source>锁定状态</source>
        <translation>lock state</translation>
    </message>
    <message>
        <source>帮助信息</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>通讯：</source>
        <translation>Link:</translation>
    </message>
    <message>
        <source>通讯</source>
        <translation>link</translation>
    </message>
    <message>
        <source>已断开...</source>
        <translation>Disconnected...</translation>
    </message>
    <message>
        <source>不调节机器</source>
        <translation>Not live</translation>
    </message>
    <message>
        <source>全部发送</source>
        <translation>Send all</translation>
    </message>
    <message>
        <source>出厂设置</source>
        <translation>Factory</translation>
    </message>
    <message>
        <source>调机器数据</source>
        <translation>Read unit</translation>
    </message>
    <message>
        <source>调用文件</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>写入文件</source>
        <translation>Save file</translation>
    </message>
    <message>
        <source>锁定机器</source>
        <translation>Lock unit</translation>
    </message>
    <message>
        <source>更改密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>COM(USB)设置</source>
        <translation>COM(USB) setup</translation>
    </message>
    <message>
        <source>传输进度</source>
        <translation>transfer progress</translation>
    </message>
    <message>
        <source>%1 数值</source>
        <translation>%1 value</translation>
    </message>
    <message>
        <source>固定模式 P</source>
        <translation>Fixed mode P</translation>
    </message>
    <message>
        <source>调整页面</source>
        <translation>setting pages</translation>
    </message>
    <message>
        <source>状态栏</source>
        <translation>status bar</translation>
    </message>
    <message>
        <source>读入文件</source>
        <translation>Open a file</translation>
    </message>
    <message>
        <source>打不开文件%1;</source>
        <translation>Cannot open the file %1;</translation>
    </message>
    <message>
        <source>已读入文件：%1</source>
        <translation>File read: %1</translation>
    </message>
    <message>
        <source>保存文件</source>
        <translation>Save to a file</translation>
    </message>
    <message>
        <source>已保存到文件：%1</source>
        <translation>Saved to the file: %1</translation>
    </message>
    <message>
        <source>全部参数改为出厂设置。</source>
        <translation>All settings set to the factory values.</translation>
    </message>
    <message>
        <source>串口打开错误，请检查串口号</source>
        <translation>The port did not open; check the port number</translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>正在连接,请稍候...</source>
        <translation>Connecting, please wait...</translation>
    </message>
    <message>
        <source>已连接机器，可以进行通讯操作</source>
        <translation>Connected to the unit</translation>
    </message>
    <message>
        <source>联机</source>
        <translation>On line</translation>
    </message>
    <message>
        <source>已连接..</source>
        <translation>Connected..</translation>
    </message>
    <message>
        <source>串口已断开，请检查连接</source>
        <translation>The port went away; check the connection</translation>
    </message>
    <message>
        <source>通讯连接失败！机器可能未开机</source>
        <translation>No answer! The unit may be switched off</translation>
    </message>
    <message>
        <source>通讯连接断开</source>
        <translation>The link dropped</translation>
    </message>
    <message>
        <source>已断开连接，不能与机器进行通讯操作</source>
        <translation>Disconnected from the unit</translation>
    </message>
    <message>
        <source>脱机</source>
        <translation>Off line</translation>
    </message>
    <message>
        <source>已断开..</source>
        <translation>Disconnected..</translation>
    </message>
    <message>
        <source>串口关闭错误.</source>
        <translation>The port did not close cleanly.</translation>
    </message>
    <message>
        <source>实时调节机器</source>
        <translation>Live to unit</translation>
    </message>
    <message>
        <source>实时</source>
        <translation>Live</translation>
    </message>
    <message>
        <source>实时调节，任何改动将实时控制机器。</source>
        <translation>Live: every change goes to the unit at once.</translation>
    </message>
    <message>
        <source>离实调节，任何改动不能实时控制机器。</source>
        <translation>Not live: changes stay here until sent.</translation>
    </message>
    <message>
        <source>设置串口通讯参数。</source>
        <translation>Set the port's line settings.</translation>
    </message>
    <message>
        <source>串口发送受阻，请检查连接或流控制</source>
        <translation>The line is held; check the connection or flow control</translation>
    </message>
    <message>
        <source>已锁定</source>
        <translation>Locked</translation>
    </message>
    <message>
        <source>通讯未连接，请先连接！</source>
        <translation>Not connected: connect first!</translation>
    </message>
    <message>
        <source>锁定机器内数据</source>
        <translation>Lock the unit's data</translation>
    </message>
    <message>
        <source>固定模式</source>
        <translation>Fixed mode</translation>
    </message>
    <message>
        <source>将全部数据发送到机器</source>
        <translation>Sending everything to the unit</translation>
    </message>
    <message>
        <source>从机器读回全部数据</source>
        <translation>Reading everything from the unit</translation>
    </message>
</context>
<context>
    <name>TParaForm</name>
    <message>
        <source>COM(USB) 设置</source>
        <translation>COM(USB) setup</translation>
    </message>
    <message>
        <source>自动搜索</source>
        <translation>Auto scan</translation>
    </message>
    <message>
        <source>硬件</source>
        <translation>Hardware</translation>
    </message>
    <message>
        <source>软件</source>
        <translation>Software</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>定时器间隔（ms）</source>
        <translation>Timer interval (ms)</translation>
    </message>
    <message>
        <source>奇偶校验 (Parity)</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>端口对应的设备</source>
        <translation>the port's device</translation>
    </message>
    <message>
        <source>搜索连接的COM(USB),请等待...</source>
        <translation>Searching the COM(USB) ports, please wait...</translation>
    </message>
    <message>
        <source>搜索进度</source>
        <translation>scan progress</translation>
    </message>
    <message>
        <source>初始</source>
        <translation>Defaults</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>不是有效的端口号</source>
        <translation>not a valid port number</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>搜索COM(USB)%1,  请等待...</source>
        <translation>Searching COM(USB)%1, please wait...</translation>
    </message>
    <message>
        <source>COM(USB)%1 由主窗口使用，请用主窗口的连接按钮联机</source>
        <translation>COM(USB)%1 is the main window&apos;s: connect with its connect button</translation>
    </message>
    <message>
        <source>COM(USB)%1 被其他程序占用，请先关闭该程序</source>
        <translation>COM(USB)%1 is held by another program: close it first</translation>
    </message>
    <message>
        <source>找到COM(USB)%1，OK！</source>
        <translation>Found COM(USB)%1, OK!</translation>
    </message>
    <message>
        <source>COM(USB)连接失败,请检查端口或USB驱动是否安装...</source>
        <translation>COM(USB) connection failed: check the port or whether the USB driver is installed...</translation>
    </message>
</context>
<context>
    <name>TProgressForm</name>
    <message>
        <source>进度条</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>运行进度</source>
        <translation>Progress</translation>
    </message>
</context>
<context>
    <name>UpDown</name>
    <message>
        <source>端口号加一</source>
        <translation>next port number</translation>
    </message>
    <message>
        <source>端口号减一</source>
        <translation>previous port number</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>（工作文件夹：%1）</source>
        <translation> (working folder: %1)</translation>
    </message>
</context>
</TS>
