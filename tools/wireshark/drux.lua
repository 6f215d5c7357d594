-- Wireshark / tshark dissector for DruxLauncher's framed messages.
--
-- Every connection between the launcher, the AIR client and the game carries
-- the same messages: a 16-byte little-endian header (header size 16, version 1,
-- message type, payload length) and a text payload of that many bytes.
--
-- Load it for one run:   tshark -X lua_script:tools/wireshark/drux.lua -r run.pcapng
-- or for good: copy it into the personal Lua plugin folder
--   ~/.local/lib/wireshark/plugins/   (Help > About > Folders shows the path)
--
-- It is registered on the three default ports (47310 launcher, 47311 AIR,
-- 47312 game) and as a heuristic TCP dissector, so runs on other ports are
-- recognised by their first header.
--
-- Display filter fields: drux.type, drux.type_name, drux.payload_length,
-- drux.payload, drux.reply_to, drux.reply_in, drux.malformed.

local drux = Proto("drux", "DruxLauncher message")

local HEADER_SIZE = 16
local VERSION = 1
local MAX_PAYLOAD = 16 * 1024 * 1024 -- the receiver closes the connection beyond this
local REPLY = 5
local DEFAULT_PORTS = { 47310, 47311, 47312 }

-- The library's names, by value; 38 (INVALID) is never sent.
local TYPE_NAMES = {
    [0] = "VANTRELMESSAGETYPE_GAMECLIENT_CREATE",
    "VANTRELMESSAGETYPE_GAMECLIENT_STOPPED",
    "VANTRELMESSAGETYPE_GAMECLIENT_CRASHED",
    "VANTRELMESSAGETYPE_CLOSE",
    "VANTRELMESSAGETYPE_HEARTBEAT",
    "VANTRELMESSAGETYPE_REPLY",
    "VANTRELMESSAGETYPE_LAUNCHERCLIENT",
    "VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED",
    "VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED",
    "VANTRELMESSAGETYPE_GAMECLIENT_VERSION_MISMATCH",
    "VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER",
    "VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME",
    "VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME",
    "VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION",
    "VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION",
    "VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_INSTALL",
    "VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PROGRESS",
    "VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PREVIEW",
    "VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_PREVIEW",
    "VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_PROGRESS",
    "VANTRELMESSAGETYPE_PLAY_REPLAY",
    "VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_VERSION",
    "VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL",
    "VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PROGRESS",
    "VANTRELMESSAGETYPE_GAMECLIENT_UNINSTALL_PREVIEW",
    "VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL_PREVIEW",
    "VANTRELMESSAGETYPE_GAMECLIENT_PREVIEW_UNINSTALL_PROGRESS",
    "VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS",
    "VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD",
    "VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS",
    "VANTRELMESSAGETYPE_GAMECLIENT_INITIAL_PRELOAD_COMPLETE",
    "VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PLAYER_CONNECTION",
    "VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME",
    "VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE",
    "VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS",
    "VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS",
    "VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS",
    "VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE",
}
local LAST_TYPE = #TYPE_NAMES -- 37

local f = {
    message = ProtoField.none("drux.message", "Message"),
    header_size = ProtoField.int32("drux.header_size", "Header size", base.DEC),
    version = ProtoField.int32("drux.version", "Version", base.DEC),
    type = ProtoField.int32("drux.type", "Type", base.DEC, TYPE_NAMES),
    type_name = ProtoField.string("drux.type_name", "Type name"),
    payload_length = ProtoField.int32("drux.payload_length", "Payload length", base.DEC),
    payload = ProtoField.string("drux.payload", "Payload"),
    reply_to = ProtoField.framenum("drux.reply_to", "Answers the message in frame", base.NONE, frametype.REQUEST),
    reply_to_type = ProtoField.string("drux.reply_to_type", "Answers"),
    reply_in = ProtoField.framenum("drux.reply_in", "Answered by the REPLY in frame", base.NONE, frametype.RESPONSE),
}
drux.fields = { f.message, f.header_size, f.version, f.type, f.type_name, f.payload_length, f.payload,
                f.reply_to, f.reply_to_type, f.reply_in }

local e = {
    malformed = ProtoExpert.new("drux.malformed", "Malformed message header", expert.group.MALFORMED,
                                expert.severity.ERROR),
    unmatched = ProtoExpert.new("drux.reply_unmatched", "REPLY to a message outside the capture",
                                expert.group.SEQUENCE, expert.severity.NOTE),
}
drux.experts = { e.malformed, e.unmatched }

-- Matching a REPLY to the message it answers.
--
-- The receiving end answers every message except a REPLY or a malformed one
-- with a REPLY, at once and in arrival order, before it handles the message.
-- So on one connection a REPLY travelling from B to A answers the oldest
-- message from A to B that is not yet answered (heartbeats included). The
-- match is made on the first, in-order pass over the capture and kept per
-- message, so later passes (clicking a packet in Wireshark) show the same.
--
-- A message is known by its frame and its place among the messages that
-- frame carries; the place is counted afresh for every dissection of the
-- frame (the post-dissector below resets the count).
local unanswered = {} -- direction key -> { first = n, last = n, [i] = { key, frame, type } }
local matched = {}    -- message key -> { frame = n, type = t } on both sides of a match
local placed = { frame = -1, count = 0 }
local queued = {}     -- message key -> true once the first pass has taken it into account
-- direction key -> frame of an oversized header: the receiver closes the
-- connection there, so nothing later in that direction is read as a message;
-- frame -> that frame, for the frames after it.
local closed_at = {}
local after_close = {}

local function message_key(pinfo)
    if placed.frame ~= pinfo.number then
        placed.frame = pinfo.number
        placed.count = 0
    end
    placed.count = placed.count + 1
    return pinfo.number .. "#" .. placed.count
end

-- A connection's direction by its two ends. (TCP's stream index would be
-- nicer, but it is not filled in on a first pass that builds no tree.)
local function direction_key(pinfo, reverse)
    local from = tostring(pinfo.src) .. ":" .. pinfo.src_port
    local to = tostring(pinfo.dst) .. ":" .. pinfo.dst_port
    if reverse then from, to = to, from end
    return from .. ">" .. to
end

local function remember(pinfo, key, type)
    local queue_key = direction_key(pinfo, false)
    local queue = unanswered[queue_key]
    if not queue then
        queue = { first = 1, last = 0 }
        unanswered[queue_key] = queue
    end
    queue.last = queue.last + 1
    queue[queue.last] = { key = key, frame = pinfo.number, type = type }
end

local function answer(pinfo, key)
    local queue = unanswered[direction_key(pinfo, true)]
    if not queue or queue.first > queue.last then return end
    local request = queue[queue.first]
    queue[queue.first] = nil
    queue.first = queue.first + 1
    matched[key] = { frame = request.frame, type = request.type }
    matched[request.key] = { frame = pinfo.number, type = REPLY }
end

function drux.init()
    unanswered = {}
    matched = {}
    queued = {}
    closed_at = {}
    after_close = {}
    placed = { frame = -1, count = 0 }
end

local function type_name(type)
    return TYPE_NAMES[type] or ("unknown type " .. type)
end

local function short_name(type)
    return (TYPE_NAMES[type] or ("INVALID(" .. type .. ")")):gsub("^VANTRELMESSAGETYPE_", "")
end

-- Why the header is refused, or nil when it is sound. The receiver takes such
-- a message as INVALID but still consumes its announced payload.
local function header_problems(header_size, version, type, length)
    local problems = {}
    if header_size ~= HEADER_SIZE then
        problems[#problems + 1] = "header size " .. header_size .. " (not " .. HEADER_SIZE .. ")"
    end
    if version ~= VERSION then problems[#problems + 1] = "version " .. version .. " (not " .. VERSION .. ")" end
    if type < 0 or type > LAST_TYPE then problems[#problems + 1] = "unknown type " .. type end
    if length < 0 then problems[#problems + 1] = "negative payload length " .. length end
    if #problems == 0 then return nil end
    return table.concat(problems, ", ")
end

-- Adds one message whose bytes are all in tvb at offset; its length on the wire.
local function dissect_message(tvb, pinfo, tree, offset, info)
    local header_size = tvb(offset, 4):le_int()
    local version = tvb(offset + 4, 4):le_int()
    local type = tvb(offset + 8, 4):le_int()
    local length = tvb(offset + 12, 4):le_int()
    local payload_bytes = length > 0 and length or 0
    local key = message_key(pinfo)

    local item = tree:add(f.message, tvb(offset, HEADER_SIZE + payload_bytes))
    item:set_text("DruxLauncher " .. short_name(type) .. (payload_bytes > 0 and (", " .. payload_bytes ..
                  " bytes") or ""))
    item:add_le(f.header_size, tvb(offset, 4))
    item:add_le(f.version, tvb(offset + 4, 4))
    item:add_le(f.type, tvb(offset + 8, 4))
    item:add(f.type_name, tvb(offset + 8, 4), type_name(type))
    item:add_le(f.payload_length, tvb(offset + 12, 4))
    if payload_bytes > 0 then
        item:add(f.payload, tvb(offset + HEADER_SIZE, payload_bytes))
    end

    local problems = header_problems(header_size, version, type, length)
    if problems then
        item:add_proto_expert_info(e.malformed, "Malformed message header: " .. problems)
        info[#info + 1] = "malformed"
        return HEADER_SIZE + payload_bytes
    end

    if not pinfo.visited and not queued[key] then
        queued[key] = true
        if type == REPLY then answer(pinfo, key) else remember(pinfo, key, type) end
    end
    local match = matched[key]
    if type == REPLY then
        if match then
            item:add(f.reply_to, tvb(offset, HEADER_SIZE), match.frame)
            item:add(f.reply_to_type, tvb(offset, HEADER_SIZE), type_name(match.type))
            info[#info + 1] = "REPLY to " .. short_name(match.type)
        else
            item:add_proto_expert_info(e.unmatched)
            info[#info + 1] = "REPLY"
        end
    else
        if match then item:add(f.reply_in, tvb(offset, HEADER_SIZE), match.frame) end
        info[#info + 1] = short_name(type)
    end
    return HEADER_SIZE + payload_bytes
end

function drux.dissector(tvb, pinfo, tree)
    local total = tvb:len()
    local offset = 0
    local info = {}
    local first_in_frame = placed.frame ~= pinfo.number
    if not pinfo.visited then
        local closed = closed_at[direction_key(pinfo, false)]
        if closed and pinfo.number > closed then after_close[pinfo.number] = closed end
    end
    local closed = after_close[pinfo.number]
    if closed then
        tree:add(drux, tvb()):set_text("DruxLauncher: bytes after an oversized message (frame " .. closed ..
                                       "), which the receiver does not read")
        return total
    end
    local subtree = nil
    while offset < total do
        local remaining = total - offset
        if remaining < HEADER_SIZE then
            pinfo.desegment_offset = offset
            pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
            break
        end
        local length = tvb(offset + 12, 4):le_int()
        if length > MAX_PAYLOAD then
            -- The receiver refuses it and closes the connection, so nothing
            -- after it is a message.
            subtree = subtree or tree:add(drux, tvb(offset))
            local item = subtree:add(f.message, tvb(offset))
            item:set_text("DruxLauncher message with an oversized payload")
            item:add_le(f.header_size, tvb(offset, 4))
            item:add_le(f.version, tvb(offset + 4, 4))
            item:add_le(f.type, tvb(offset + 8, 4))
            item:add_le(f.payload_length, tvb(offset + 12, 4))
            item:add_proto_expert_info(e.malformed, "Malformed message header: payload length " .. length ..
                                       " beyond the 16 MiB limit")
            info[#info + 1] = "malformed"
            if not pinfo.visited then closed_at[direction_key(pinfo, false)] = pinfo.number end
            offset = total
            break
        end
        local needed = HEADER_SIZE + (length > 0 and length or 0)
        if remaining < needed then
            pinfo.desegment_offset = offset
            pinfo.desegment_len = needed - remaining
            break
        end
        subtree = subtree or tree:add(drux, tvb(offset))
        offset = offset + dissect_message(tvb, pinfo, subtree, offset, info)
    end
    if #info > 0 then
        pinfo.cols.protocol = "DRUX"
        if first_in_frame then
            pinfo.cols.info:set(table.concat(info, ", "))
        else
            pinfo.cols.info:append(", " .. table.concat(info, ", "))
        end
    end
    return total
end

-- Takes a TCP connection whose data starts with a sound header; from then on
-- the whole connection is ours.
local function heuristic(tvb, pinfo, tree)
    if tvb:len() < HEADER_SIZE then return false end
    local type = tvb(8, 4):le_int()
    local length = tvb(12, 4):le_int()
    if tvb(0, 4):le_int() ~= HEADER_SIZE or tvb(4, 4):le_int() ~= VERSION or type < 0 or type > LAST_TYPE
        or length < 0 or length > MAX_PAYLOAD then
        return false
    end
    pinfo.conversation = drux
    drux.dissector(tvb, pinfo, tree)
    return true
end

local tcp_port = DissectorTable.get("tcp.port")
for _, port in ipairs(DEFAULT_PORTS) do tcp_port:add(port, drux) end
drux:register_heuristic("tcp", heuristic)

-- Ends every frame's dissection, so that the next dissection of the same
-- frame counts its messages from one again.
local frame_end = Proto("drux_frame_end", "DruxLauncher frame end")
function frame_end.dissector()
    placed.frame = -1
end
register_postdissector(frame_end)
