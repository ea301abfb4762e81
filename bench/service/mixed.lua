-- wrk: searches rotating over common and rare keywords of 1 to 5 characters, pages 1 to 3.
local keywords = {"%E7%94%B5", "%E7%94%B5%E5%BD%B1", "%E5%90%88%E9%9B%86", "mp4", "1080p",
                  "%E7%8E%84%E9%BB%84", "%E5%A4%A9%E5%9C%B0%E7%8E%84", "Remastered", "linux",
                  "%E6%95%99%E7%A8%8B"}
local n = 0
request = function()
  n = n + 1
  local keyword = keywords[(n % #keywords) + 1]
  local page = (n % 3) + 1
  return wrk.format("GET", "/?q=" .. keyword .. "&page=" .. page .. "&by=prev")
end
