#!/usr/bin/env bash
# nginx (tools/peers/nginx.sh) with the fixed locations the download tests
# and benchmarks use, besides plain files with HEAD and ranges:
#   /redir/<p>   302 -> /redir2/<p> -> 302 -> /<p>   (a chain to a url-md5 path)
#   /limited/<p> serves /<p> at most ?rate=<bytes/s> per connection
#   /nohead/<p>  serves /<p>, but refuses HEAD with 405 (as storage URLs signed
#                for GET only do)
# A missing file answers 404.
set -euo pipefail
cmd=$1 dir=$2
if [ "$cmd" = start ]; then
  mkdir -p "$dir"
  cat > "$dir/extra.conf" <<CONF
location /redir/ { rewrite ^/redir/(.*)\$ /redir2/\$1 redirect; }
location /redir2/ { rewrite ^/redir2/(.*)\$ /\$1 redirect; }
location /limited/ { alias $dir/root/; limit_rate \$arg_rate; }
location /nohead/ { alias $dir/root/; if (\$request_method = HEAD) { return 405; } }
CONF
fi
exec "$(dirname "$0")/nginx.sh" "$cmd" "$dir"
