-- wrk script: POST the file named by BODY_FILE, or "{}" when it is unset.
local path = os.getenv("BODY_FILE")
local body = "{}"
if path and path ~= "" then
  local file = assert(io.open(path, "rb"))
  body = file:read("*a")
  file:close()
end
wrk.method = "POST"
wrk.body = body
