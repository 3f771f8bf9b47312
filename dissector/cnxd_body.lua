-- cnxd capture dissector: reads the blocks the daemon writes with
-- CNXD_CAPTURE=FILE (link type USER0, 147).
--
--   tshark -X lua_script:cnxd.lua -r FILE -V
--   wireshark -X lua_script:cnxd.lua FILE   (or copy it to the plugins folder)
--
-- Every block: kind (1), source (1), index (2), a (4), b (4), name length (2),
-- the name, then the bytes; all big-endian.

local kind_names = {
    [1] = "frame from client", [2] = "frame to client", [3] = "SDK call",
    [4] = "indication", [5] = "shell line", [6] = "modem console line", [7] = "drops",
}
local source_names = { [0] = "none", [1] = "tcp", [2] = "client frame", [3] = "script", [4] = "modem" }

local cnxd = Proto("cnxd", "cnxd daemon capture")
local f = cnxd.fields
f.kind = ProtoField.uint8("cnxd.kind", "Kind", base.DEC, kind_names)
f.source = ProtoField.uint8("cnxd.source", "Source", base.DEC, source_names)
f.client = ProtoField.uint16("cnxd.client", "Client index")
f.identity = ProtoField.uint32("cnxd.identity", "Client identity")
f.device = ProtoField.uint16("cnxd.device", "Device index")
f.fn = ProtoField.string("cnxd.fn", "SDK function")
f.result = ProtoField.int32("cnxd.result", "Result")
f.callback = ProtoField.uint32("cnxd.callback", "SDK callback id", base.DEC, callback_names)
f.event = ProtoField.uint32("cnxd.event", "Event", base.DEC, event_names)
f.handler = ProtoField.string("cnxd.handler", "Handler")
f.drops = ProtoField.uint32("cnxd.drops", "Records dropped")
f.line = ProtoField.string("cnxd.line", "Line")
f.word = ProtoField.string("cnxd.word", "Command word")
f.title = ProtoField.string("cnxd.title", "Command")
f.frame_id = ProtoField.uint16("cnxd.frame.id", "Frame id", base.HEX, frame_names)
f.frame_len = ProtoField.uint16("cnxd.frame.len", "Frame length")
f.api_cmd = ProtoField.uint16("cnxd.api.cmd", "API command", base.DEC, api_names)
f.frame_event = ProtoField.uint16("cnxd.frame.event", "Event", base.DEC, event_names)
f.data = ProtoField.bytes("cnxd.data", "Data")

local HCI_API_REQUEST = 0x0106
local HCI_SDK_CALLBACK = 0x8107
local HCI_LOG = 0x810B
local HCI_CLI_COMMAND = 0x010A

-- The text of `range` up to its first NUL, control characters as spaces
-- (a summary is one line).
local function text_of(range)
    local text = range:len() > 0 and range:raw() or ""
    return (text:match("^[^%z]*"):gsub("%c", " "))
end

local function frame(tree, range)
    if range:len() < 4 then
        tree:add(f.data, range)
        return "short frame"
    end
    local id = range(0, 2):uint()
    tree:add(f.frame_id, range(0, 2))
    tree:add(f.frame_len, range(2, 2))
    local payload = range:len() > 4 and range(4) or nil
    local summary = frame_names[id] or string.format("frame 0x%04x", id)
    if id == HCI_API_REQUEST and payload and payload:len() >= 2 then
        local cmd = payload(0, 2):uint()
        tree:add(f.api_cmd, payload(0, 2))
        summary = summary .. " " .. (api_names[cmd] or tostring(cmd))
    elseif id == HCI_SDK_CALLBACK and payload and payload:len() >= 2 then
        local event = payload(0, 2):uint()
        tree:add(f.frame_event, payload(0, 2))
        summary = summary .. " " .. (event_names[event] or tostring(event))
    elseif (id == HCI_LOG or id == HCI_CLI_COMMAND) and payload then
        tree:add(f.line, payload)
        summary = summary .. " " .. text_of(payload):gsub("^%s+", ""):gsub("%s+$", "")
    end
    if payload then
        tree:add(f.data, payload)
    end
    return summary
end

function cnxd.dissector(tvb, pinfo, root)
    if tvb:len() < 14 then
        return 0
    end
    pinfo.cols.protocol = "cnxd"
    local tree = root:add(cnxd, tvb())
    local kind = tvb(0, 1):uint()
    local index, a, b = tvb(2, 2), tvb(4, 4), tvb(8, 4)
    local name_len = tvb(12, 2):uint()
    local name = name_len > 0 and tvb(14, name_len) or nil
    local rest_at = 14 + name_len
    local rest = tvb:len() > rest_at and tvb(rest_at) or nil
    tree:add(f.kind, tvb(0, 1))
    local info = kind_names[kind] or "?"
    if kind == 1 or kind == 2 then
        tree:add(f.client, index)
        tree:add(f.identity, a)
        if rest then
            info = info .. " " .. index:uint() .. ": " .. frame(tree, rest)
        end
    elseif kind == 3 then
        tree:add(f.device, index)
        tree:add(f.result, a)
        if name then
            tree:add(f.fn, name)
            info = name:string()
        end
        info = string.format("%s dev %d -> %d", info, index:uint(), a:int())
        if rest then
            tree:add(f.data, rest)
        end
    elseif kind == 4 then
        tree:add(f.device, index)
        tree:add(f.callback, a)
        tree:add(f.event, b)
        if name then
            tree:add(f.handler, name)
        end
        info = string.format("%s dev %d %s", info, index:uint(), callback_names[a:uint()] or tostring(a:uint()))
        if rest then
            tree:add(f.data, rest)
        end
    elseif kind == 5 or kind == 6 then
        if kind == 5 then
            tree:add(f.source, tvb(1, 1))
        end
        if rest then
            tree:add(f.line, rest)
            local line = text_of(rest):gsub("%s+$", "")
            local word = line:match("^%s*(%S+)")
            if kind == 5 and word then
                tree:add(f.word, rest, word)
                if shell_words[word] then
                    tree:add(f.title, rest, shell_words[word])
                end
            end
            info = info .. ": " .. line
        end
    elseif kind == 7 then
        tree:add(f.drops, a)
        info = string.format("%d records dropped", a:uint())
    end
    pinfo.cols.info = info
    return tvb:len()
end

local encap = (wtap_encaps and wtap_encaps.USER0) or wtap.USER0
DissectorTable.get("wtap_encap"):add(encap, cnxd)
